#include "front/ProgramOptionsHelper.h"

#include "utils/ErrorStream.h"

#include <cstdlib>
#include <iostream>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

namespace {

// The key under which the library stores an option declared as "name,x".
std::string longName(const std::string& declared) {
    return declared.substr(0, declared.find(','));
}

} // namespace

std::string ProgramOptionsHelper::OptionAppender::helpText(const char* name, const char* text,
                                                           bool mandatory) const {
    if (!mandatory)
        return text;
    helper_->mandatoryOptions.emplace_front(name);
    return std::string(text) + " (mandatory)";
}

ProgramOptionsHelper::OptionAppender&
ProgramOptionsHelper::OptionAppender::operator()(const char* name, const po::value_semantic* value,
                                                 const char* text, bool mandatory) {
    const std::string help = helpText(name, text, mandatory);
    helper_->options.add_options()(name, value, help.c_str());
    return *this;
}

ProgramOptionsHelper::OptionAppender&
ProgramOptionsHelper::OptionAppender::operator()(const char* name, const char* text,
                                                 bool mandatory) {
    const std::string help = helpText(name, text, mandatory);
    helper_->options.add_options()(name, help.c_str());
    return *this;
}

ProgramOptionsHelper::ProgramOptionsHelper(const std::string& description_,
                                           const std::string& syntax_)
    : options("Allowed options to " + description_), description(description_), syntax(syntax_) {}

void ProgramOptionsHelper::usage(int status, std::ostream& out) const {
    out << description << '\n';
    out << "Usage: " << syntax << '\n';
    out << options << std::endl;
    std::exit(status);
}

MissingMandatoryOption::MissingMandatoryOption(const std::string& name)
    : po::error("mandatory option \"--" + name + "\" is not specified") {}

void standardOptionsParse(ProgramOptionsHelper& helper, int argc, char** argv) {
    try {
        ProgramOptionsHelper::OptionAppender declare(helper);
        declare("help,h", "displays this help message");
        po::store(po::parse_command_line(argc, argv, helper.options), helper.variables);
        po::notify(helper.variables);
        if (helper.variables.count("help"))
            helper.usage(0, std::cout);
        for (const std::string& name : helper.mandatoryOptions)
            if (!helper.variables.count(longName(name)))
                throw MissingMandatoryOption(name);
    } catch (const po::error& e) {
        uerr << e.what() << std::endl;
        helper.usage(1, std::cout);
    }
}

} // namespace korvo::mail::postfix::vornctl_commands
