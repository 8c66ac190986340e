// The message being delivered, kept in an unlinked temporary file.
//
// Postfix hands the message over once, on a pipe; every delivery
// instruction needs it from its first byte. The constructor copies the
// input into a file that has no name from the start (or is unlinked at
// once), so nothing is left behind however the agent ends. openReader gives
// each reader its own descriptor and file offset.
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
    SpooledMessage(const SpooledMessage&) = delete;
    SpooledMessage& operator=(const SpooledMessage&) = delete;

    // A new read-only descriptor positioned at the first byte.
    int openReader() const;
    off_t size() const { return size_; }

private:
    FdOwner fd_;
    off_t size_ = 0;
};

// Copies everything from input to output; false with errno set on failure.
bool copyAll(int input, int output, off_t* copied);

} // namespace korvo::deliver

#endif
