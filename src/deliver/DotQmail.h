// The delivery instructions of a .qmail file, in qmail's dot-qmail format.
//
// One instruction per line, carried out in file order:
//   "#..."          a comment;
//   "|command"      run command through /bin/sh in the mail home with the
//                   message on standard input;
//   "&address", or a line starting with a letter or digit: forward a copy;
//   "./dir/"        deliver into the Maildir dir below the home.
// Blank lines are skipped and trailing blanks and tabs dropped. A line of
// any other form (an mbox file, a Maildir outside the home, a path with
// "..", a forward without an address) and a file without any instruction
// are refused: parseDotQmail defers the delivery (DeliveryFailure), so
// nothing is lost by a file the agent cannot follow.
#ifndef KORVO_DELIVER_DOTQMAIL_H
#define KORVO_DELIVER_DOTQMAIL_H

#include <string>
#include <vector>

namespace korvo::deliver {

struct Instruction {
    enum Kind { Program, Forward, Maildir };
    Kind kind;
    // The command, the address, or the Maildir path relative to the home
    // without "./" and with its trailing slash.
    std::string text;

    bool operator==(const Instruction& other) const {
        return kind == other.kind && text == other.text;
    }
};

std::vector<Instruction> parseDotQmail(const std::string& content);

// The Maildir of a deliverquota argument ("./Maildir" or "./Maildir/") as
// an instruction's text ("Maildir/"); "" when it does not lie below the
// home.
std::string maildirBelowHome(const std::string& argument);

} // namespace korvo::deliver

#endif
