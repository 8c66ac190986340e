// The Maildir++ quota as a delivery agent keeps it, for one message.
//
// Before a message is stored, admits() compares what maildirsize counts
// plus the message with the quota on its first line ("<bytes>S,<count>C",
// either part optional, 0 or none meaning no limit). A count it cannot
// trust (the file longer than 5120 bytes, a malformed usage line) and a
// count that refuses the message are first replaced by a fresh count of
// the mailbox (MaildirSize.h), so a stale file never refuses mail the
// mailbox has room for. After the message is stored, record() appends its
// usage line (size and one message) with a single O_APPEND write: the way
// every Maildir++ writer updates the file, so concurrent deliveries and
// mail readers add up instead of overwriting each other.
//
// A mailbox without maildirsize, or whose maildirsize the mail account may
// not write, has no quota. Any other failure to read, recount or examine
// raises korvo::SystemError naming maildirsize and the system error; a
// failed record() is not reported, since the message is stored by then and
// the next recount repairs the count. No link is followed.
#ifndef KORVO_MAIL_STORAGE_DELIVERYQUOTA_H
#define KORVO_MAIL_STORAGE_DELIVERYQUOTA_H

#include <string>

namespace korvo::mail {

struct QuotaLimits {
    long long bytes = 0;    // 0: no limit
    long long messages = 0; // 0: no limit
};

// The limits of a maildirsize quota line; none for a line of another form.
QuotaLimits parseQuotaLine(const std::string& line);

class DeliveryQuota {
public:
    // maildirFd: the open Maildir; shownPath names it in errors.
    DeliveryQuota(int maildirFd, std::string shownPath);

    // Whether a message of size bytes fits.
    bool admits(long long size);
    // Counts a stored message of size bytes.
    void record(long long size) const;

private:
    // Reads maildirsize; false when it has to be counted afresh.
    bool load();
    void recount();

    int maildirFd_;
    std::string shownPath_;
    bool enforced_ = false;
    QuotaLimits limits_;
    long long bytes_ = 0;
    long long messages_ = 0;
};

} // namespace korvo::mail

#endif
