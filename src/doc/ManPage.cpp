#include "doc/ManPage.h"

#include <sstream>

namespace korvo::doc {

namespace {

const char* const header = R"(.TH VORNCTL 8 "" "vornctl" "System Administration"
.ad l
.nh
.SH NAME
vornctl \- mail management of the hosting panel: Postfix, Courier\-IMAP and Maildir mailboxes
.SH SYNOPSIS
.B vornctl
.I command
.RI [ options ]
.SH DESCRIPTION
.B vornctl
makes one change to the mail system per run: mail domains and their aliases,
mailnames, mailboxes, redirects and aliases, server\-wide mail settings, mail
handlers and the mail services.
It is run as root, with one command word followed by that command's options.
It prints nothing on success, apart from the commands that report something.
.SH COMMANDS
)";

const char* const footer = R"(.SH ENVIRONMENT
.TP
.B ORQ_PASSWORD
the plain password of the commands that set one
.TP
.B ORQ_CRYPTED_PASSWORD
an already encrypted password, in place of ORQ_PASSWORD
.SH EXIT STATUS
0 on success, 1 for a reported failure, 2 for an unexpected exception; a few
commands pass on the result of the operation they run.
.SH FILES
.TP
.I /var/spool/postfix/korvo/
the Postfix lookup tables, the file of switched\-off services and the mail
authentication database
.TP
.I /var/qmail/mailnames/
the default root of the mail homes
.TP
.I /etc/orq/orq.conf
paths of the panel's utilities
.SH SEE ALSO
.BR vornctl\-setup (8),
.BR vornctl\-deliver (8),
.BR postfix (1),
.BR postconf (5)
)";

// A description line break is a line feed followed by indentation.
void writeDescription(std::ostream& out, const std::string& description) {
    std::istringstream lines(description);
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        const std::string::size_type text = line.find_first_not_of(' ');
        if (text == std::string::npos)
            continue;
        if (!first)
            out << ".br\n";
        out << roffEscape(line.substr(text)) << "\n";
        first = false;
    }
}

} // namespace

std::string roffEscape(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\e";
        else if (c == '-')
            escaped += "\\-";
        else if (c == '|')
            // A break point, so that long alternatives fit the line.
            escaped += "|\\:";
        else
            escaped += c;
    }
    if (!escaped.empty() && (escaped[0] == '.' || escaped[0] == '\''))
        escaped.insert(0, "\\&");
    return escaped;
}

void writeManPage(std::ostream& out, const CommandDescription* commands, std::size_t count) {
    out << header;
    for (std::size_t i = 0; i < count; ++i) {
        const CommandDescription& command = commands[i];
        out << ".TP\n.B " << roffEscape(command.name) << "\n";
        if (command.syntax[0] != '\0')
            out << ".I " << roffEscape(command.syntax) << "\n.br\n";
        writeDescription(out, command.description);
    }
    out << footer;
}

} // namespace korvo::doc
