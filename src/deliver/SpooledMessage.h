// The message being delivered, kept in an unlinked temporary file.
//
// Postfix hands the message over once, on a pipe; every delivery
// instruction needs it from its first byte. The constructor copies the
// input into a file that has no name from the start (or is unlinked at
// once), so nothing is left behind however the agent ends; the agent puts
// it in the "tmp" of the Maildir the message is to be stored in, where the
// delivery only has to name it. openReader gives each reader its own
// descriptor and file offset.
//
// Failures raise korvo::SystemError naming the operation and the directory.
#ifndef KORVO_DELIVER_SPOOLEDMESSAGE_H
#define KORVO_DELIVER_SPOOLEDMESSAGE_H

#include "utils/FdOwner.h"

#include <string>
#include <sys/types.h>

namespace korvo::deliver {

class SpooledMessage {
public:
    // Reads input to its end into a new file in directory.
    SpooledMessage(int input, const std::string& directory);
    // The same in the directory open as directoryFd (shownDirectory in
    // errors).
    SpooledMessage(int input, int directoryFd, const std::string& shownDirectory);
    SpooledMessage(const SpooledMessage&) = delete;
    SpooledMessage& operator=(const SpooledMessage&) = delete;

    // A new read-only descriptor positioned at the first byte.
    int openReader() const;
    off_t size() const { return size_; }

    // Flushes the file to disk and gives it the name in the directory open
    // as dirFd, so that a Maildir delivery on the same file system stores it
    // without a copy. Only once: a message is never two hard links. False
    // with errno when it cannot (another file system, a second time).
    bool linkAt(int dirFd, const std::string& name) const;

private:
    void fill(int input, const std::string& shownDirectory);

    FdOwner fd_;
    off_t size_ = 0;
    mutable bool linked_ = false;
};

} // namespace korvo::deliver

#endif
