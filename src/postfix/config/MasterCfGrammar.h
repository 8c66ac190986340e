// The Boost.Spirit (classic) grammar of master.cf and of the file of
// disabled services.
//
// A file is lines separated by line feeds. Each line is, first match wins, a
// service entry, a comment line or a blank line. An entry is name, type,
// private, unprivileged, chroot, wakeup, process limit and command words,
// separated by continuous_spaces_p, so it may go on over following lines
// that start with whitespace, with blank and comment lines in between. Names
// are lower-case letters, digits and "-_:."; types are inet, unix, fifo,
// unix-dgram and pass ("unix-dgram" is tried before "unix"); a command word
// is printable ASCII without "#". A final line feed ends the last line and
// does not start an empty one.
//
// Parse with classic::parse(first, last, MasterCfParser(content)) over a
// character range and no skipper; the file is valid only when the parse is
// full. A failed parse leaves content partly filled: discard it.
// MasterCfIO.h wraps this for files.
#ifndef KORVO_POSTFIX_MASTERCFGRAMMAR_H
#define KORVO_POSTFIX_MASTERCFGRAMMAR_H

#include "postfix/config/MasterCfActions.h"
#include "postfix/config/MasterCfContent.h"
#include "postfix/config/ModuleInfo.h"
#include "postfix/config/parser/LineParsers.h"
#include "postfix/config/parser/ParseActions.h"

#include <boost/logic/tribool.hpp>
#include <boost/spirit/include/classic_assign_actor.hpp>
#include <boost/spirit/include/classic_core.hpp>

namespace korvo::mail::postfix {

namespace classic = boost::spirit::classic;

// A character of a service name.
struct service_name_char_parser : classic::char_parser<service_name_char_parser> {
    template <typename CharT> bool test(CharT ch) const {
        return (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' || ch == '_' ||
               ch == ':' || ch == '.';
    }
};

// A character of a command word: printable ASCII but blank and "#".
struct command_char_parser : classic::char_parser<command_char_parser> {
    template <typename CharT> bool test(CharT ch) const {
        return ch >= '!' && ch <= '~' && ch != '#';
    }
};

class MasterCfParser : public classic::grammar<MasterCfParser> {
public:
    explicit MasterCfParser(MasterCfContent& content) : content(content) {}

    MasterCfContent& content;

    template <typename ScannerT> class definition {
    public:
        explicit definition(const MasterCfParser& self) {
            using korvo::parser::ConstAssigner;
            using Type = ConstAssigner<ModuleType>;
            const korvo::parser::continuous_spaces_parser& sep = korvo::parser::continuous_spaces_p;
            const classic::uint_parser<int, 10, 1, -1> number_p;
            const service_name_char_parser name_char_p;
            const command_char_parser command_char_p;

            type = classic::str_p("unix-dgram")[Type(current.type, ModuleType::UNIX_DGRAM)] |
                   classic::str_p("inet")[Type(current.type, ModuleType::INET)] |
                   classic::str_p("unix")[Type(current.type, ModuleType::UNIX)] |
                   classic::str_p("fifo")[Type(current.type, ModuleType::FIFO)] |
                   classic::str_p("pass")[Type(current.type, ModuleType::PASS)];
            privateFlag = flag(current.privateService);
            unprivilegedFlag = flag(current.unprivileged);
            chrootFlag = flag(current.chroot);
            wakeup = classic::ch_p('-') |
                     (number_p[classic::assign_a(current.wakeup)] >>
                      !classic::ch_p('?')[ConstAssigner<bool>(current.wakeupConditional, true)]);
            maxProcesses = classic::ch_p('-') | number_p[classic::assign_a(current.maxProcesses)];
            command = (+command_char_p)[korvo::parser::WordAppender(current.command)] % sep;
            entry = ((+name_char_p)[MasterCfModuleStarter(current)] >> sep >> type >> sep >>
                     privateFlag >> sep >> unprivilegedFlag >> sep >> chrootFlag >> sep >> wakeup >>
                     sep >> maxProcesses >> sep >> command >>
                     *korvo::parser::swsp_p)[MasterCfModuleAppender(self.content, current)];
            line = entry | korvo::parser::comments_line_p[MasterCfRawAppender(self.content)] |
                   korvo::parser::empty_line_p[MasterCfRawAppender(self.content)];
            file = line >> *(korvo::parser::lf_p >> (classic::end_p | line));
        }

        const classic::rule<ScannerT>& start() const { return file; }

    private:
        static auto flag(boost::logic::tribool& field) {
            using Flag = korvo::parser::ConstAssigner<boost::logic::tribool>;
            return classic::ch_p('y')[Flag(field, true)] | classic::ch_p('n')[Flag(field, false)] |
                   classic::ch_p('-');
        }

        ModuleInfo current;
        classic::rule<ScannerT> file, line, entry, type, privateFlag, unprivilegedFlag, chrootFlag,
            wakeup, maxProcesses, command;
    };
};

} // namespace korvo::mail::postfix

#endif
