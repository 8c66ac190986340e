#include "front/OptionValueTypes.h"

#include <boost/lexical_cast.hpp>
#include <boost/program_options/errors.hpp>
#include <boost/program_options/value_semantic.hpp>
#include <map>
#include <typeinfo>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

void validate(boost::any& v, const std::vector<std::string>& values, ShortnameFormat*, int) {
    po::validators::check_first_occurrence(v);
    const std::string& text = po::validators::get_single_string(values);
    if (text == "compound")
        v = ShortnameFormat::compound;
    else if (text == "both")
        v = ShortnameFormat::both;
    else
        throw po::invalid_option_value(text);
}

void validate(boost::any& v, const std::vector<std::string>& values, IPv4Mask*, int) {
    po::validators::check_first_occurrence(v);
    const std::string& text = po::validators::get_single_string(values);
    // Digits only: lexical_cast's own scan of longer malformed texts
    // overflows a signed integer inside Boost 1.74.
    const std::size_t digits = text.find_first_not_of("+-");
    if (digits == std::string::npos || text.size() - digits > 5 ||
        text.find_first_not_of("0123456789", digits) != std::string::npos)
        throw boost::bad_lexical_cast(typeid(std::string), typeid(std::uint16_t));
    const auto prefix = boost::lexical_cast<std::uint16_t>(text);
    if (prefix > 32)
        throw po::invalid_option_value(text);
    v = IPv4Mask{prefix};
}

void validate(boost::any& v, const std::vector<std::string>& values, SelectedMailComponents*, int) {
    using C = SelectedMailComponents;
    static const std::map<std::string, unsigned> bits = {
        {"mta", C::MTA},   {"smtp", C::SMTP}, {"smtps", C::SMTPS}, {"submission", C::SUBMISSION},
        {"pop3", C::POP3}, {"imap", C::IMAP}, {"pop3s", C::POP3S}, {"imaps", C::IMAPS},
        {"all", C::ALL},
    };
    C selected = v.empty() ? C{} : boost::any_cast<C>(v);
    for (const std::string& word : values) {
        const auto found = bits.find(word);
        if (found == bits.end())
            throw po::invalid_option_value("unknown component " + word);
        selected.components |= found->second;
    }
    v = selected;
}

} // namespace korvo::mail::postfix::vornctl_commands
