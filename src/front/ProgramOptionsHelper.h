// Per-command option parsing for the command handlers.
//
// A handler makes one ProgramOptionsHelper on its stack, declares its options
// through an OptionAppender, calls standardOptionsParse and then reads the
// values from `variables`:
//
//     ProgramOptionsHelper helper("set domain reject flag",
//                                 "--set-reject --domain-name=<domain-name>");
//     ProgramOptionsHelper::OptionAppender declare(helper);
//     declare("domain-name", po::value<std::string>(), "domain name", true)
//            ("in-blocks", "size in blocks");
//     standardOptionsParse(helper, argc, argv);
//     const auto& domain = helper.variables["domain-name"].as<std::string>();
//
// Parsing never returns with a bad command line: an option error (unknown
// option, bad or repeated value, missing mandatory option) is written to
// korvo::uerr, the usage follows on standard output and the process exits
// with 1; --help or -h prints the usage and exits with 0.
#ifndef KORVO_FRONT_PROGRAMOPTIONSHELPER_H
#define KORVO_FRONT_PROGRAMOPTIONSHELPER_H

#include <boost/program_options.hpp>
#include <forward_list>
#include <ostream>
#include <string>

namespace korvo::mail::postfix::vornctl_commands {

class ProgramOptionsHelper {
public:
    // Declares options on one helper; both call operators return the
    // appender so that declarations chain.
    class OptionAppender {
    public:
        explicit OptionAppender(ProgramOptionsHelper& helper) : helper_(&helper) {}
        // An option with a value; the helper takes ownership of `value`.
        OptionAppender& operator()(const char* name,
                                   const boost::program_options::value_semantic* value,
                                   const char* text, bool mandatory = false);
        // A switch without a value.
        OptionAppender& operator()(const char* name, const char* text, bool mandatory = false);

    private:
        std::string helpText(const char* name, const char* text, bool mandatory) const;
        ProgramOptionsHelper* helper_;
    };

    ProgramOptionsHelper(const std::string& description, const std::string& syntax);
    ProgramOptionsHelper(const ProgramOptionsHelper&) = delete;
    ProgramOptionsHelper& operator=(const ProgramOptionsHelper&) = delete;

    // Prints the command's description, syntax and options, then exit(status).
    [[noreturn]] void usage(int status, std::ostream& out) const;

    boost::program_options::options_description options;
    boost::program_options::variables_map variables;
    const std::string description;
    // Most recently declared first: the last mandatory option is checked first.
    std::forward_list<std::string> mandatoryOptions;
    const std::string syntax;
};

// A mandatory option absent from the command line.
class MissingMandatoryOption : public boost::program_options::error {
public:
    explicit MissingMandatoryOption(const std::string& name);
};

// Parses argv (argv[0] is the command word) into helper.variables; see the
// header comment for what happens on errors and on --help.
void standardOptionsParse(ProgramOptionsHelper& helper, int argc, char** argv);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
