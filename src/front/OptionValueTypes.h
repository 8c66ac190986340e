// Option value types of vornctl's own, each with the validate overload that
// Boost.program_options finds for it by argument-dependent lookup.
//
// A refused text raises boost::program_options::invalid_option_value, which
// the option helper reports as an option error (status 1). IPv4Mask text
// that is no number at all raises boost::bad_lexical_cast instead, which is
// not an option error and reaches main.
#ifndef KORVO_FRONT_OPTIONVALUETYPES_H
#define KORVO_FRONT_OPTIONVALUETYPES_H

#include <boost/any.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace korvo::mail::postfix::vornctl_commands {

// How POP3/IMAP account names are formed: "compound" or "both".
enum class ShortnameFormat : std::uint8_t { compound = 0, both = 1 };

// A network prefix length, 0 to 32.
struct IPv4Mask {
    std::uint16_t prefix = 0;
};

// The mail components a service command acts on; the option may be given
// several times and the components add up.
struct SelectedMailComponents {
    enum MailComponents : unsigned {
        MTA = 0x1,
        SMTP = 0x2,
        SMTPS = 0x4,
        SUBMISSION = 0x8,
        POP3 = 0x10,
        IMAP = 0x20,
        POP3S = 0x40,
        IMAPS = 0x80,
        ALL = 0xFFFF,
    };
    unsigned components = 0;
};

void validate(boost::any& v, const std::vector<std::string>& values, ShortnameFormat*, int);
void validate(boost::any& v, const std::vector<std::string>& values, IPv4Mask*, int);
void validate(boost::any& v, const std::vector<std::string>& values, SelectedMailComponents*, int);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
