// Which senders the mailbox answered when: the file .autoresponder-replies
// in the mail home, one line "SECONDS SENDER" per sender.
//
// The mail home is written by the mail account, so nothing here follows a
// link: the log and its lock are opened relative to the home's descriptor
// with O_NOFOLLOW, and a new log is written to a fresh file (O_EXCL) and
// renamed over the old one while the lock (.autoresponder-replies.lock) is
// held, so two deliveries at once never both reply and a crash never
// leaves half a log. Failures raise korvo::SystemError naming the file.
#ifndef KORVO_AUTORESPONDER_REPLYLOG_H
#define KORVO_AUTORESPONDER_REPLYLOG_H

#include "utils/FdOwner.h"

#include <ctime>
#include <map>
#include <string>

namespace korvo::autoresponder {

class ReplyLog {
public:
    // Locks the log of the home open on homeFd and reads it.
    explicit ReplyLog(int homeFd);

    // True when sender got a reply less than interval seconds before now.
    bool repliedWithin(const std::string& sender, long interval, std::time_t now) const;

    // Records a reply at now and drops entries older than interval.
    void record(const std::string& sender, long interval, std::time_t now);

private:
    int homeFd_;
    FdOwner lock_;
    std::map<std::string, std::time_t> replies_;
};

} // namespace korvo::autoresponder

#endif
