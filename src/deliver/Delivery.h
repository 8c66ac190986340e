// Carries out the instructions of one recipient's .qmail for one message.
//
// Instructions run in file order. A program ("|" line) runs as
// "/bin/sh -c COMMAND" in the mail home (the current directory, which the
// caller has changed to) with the message on standard input; a command of
// plain words (no quote, variable, glob or operator) that starts with an
// absolute path runs the same without the shell, "true" starts no process
// at all, and Courier's deliverquota on a Maildir of the home is carried out
// by the agent itself with deliverquota's quota rules (MaildirDelivery.h). Programs get qmail's variables in their environment
// (SENDER, RECIPIENT, LOCAL, HOST, HOME, USER, RPLINE, DTLINE); a program's
// exit status decides as qmail's does: 0 goes on to the
// next line, 99 stops with success, 100 and the permanent sysexits codes
// 64, 65, 70, 76, 77 (deliverquota over quota) and 78, and 112, bounce the
// message; every other status or a signal defers it. A Maildir line
// delivers at once (MaildirDelivery.h). Forwards ("&" lines) are collected
// and sent together after the last line (or after a 99), as one run of
// Postfix's sendmail with the original envelope sender, so a delivery that
// is deferred half-way and tried again never sends the copies twice.
//
// A bounce or deferral is thrown as DeliveryFailure; what the program
// printed has gone to the agent's own standard output and error, which
// Postfix records.
#ifndef KORVO_DELIVER_DELIVERY_H
#define KORVO_DELIVER_DELIVERY_H

#include "deliver/DotQmail.h"
#include "deliver/SpooledMessage.h"

#include <string>
#include <vector>

namespace korvo::deliver {

struct Envelope {
    std::string sender; // empty for a bounce
    std::string recipient;
};

inline constexpr char SENDMAIL[] = "/usr/sbin/sendmail";

// The Maildir (relative to the home, "Maildir/") the first storing
// instruction delivers into, a Maildir line or Courier's deliverquota
// carried out by the agent; "" when no instruction stores the message.
std::string firstMaildir(const std::vector<Instruction>& instructions);

// What a program's exit status asks for.
enum class ProgramVerdict { Continue, Stop, Bounce, Defer };
ProgramVerdict judgeExitStatus(int exitStatus);

class Delivery {
public:
    Delivery(const SpooledMessage& message, const Envelope& envelope, int homeFd,
             const std::string& home);

    void carryOut(const std::vector<Instruction>& instructions);

private:
    // True when the remaining lines are to be skipped (exit 99).
    bool runProgram(const std::string& command);
    void forward(const std::vector<std::string>& addresses);
    void exportEnvironment() const;

    const SpooledMessage& message_;
    const Envelope& envelope_;
    int homeFd_;
    std::string home_;
};

} // namespace korvo::deliver

#endif
