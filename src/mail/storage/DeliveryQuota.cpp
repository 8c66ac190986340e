#include "mail/storage/DeliveryQuota.h"

#include "mail/storage/MaildirSize.h"
#include "utils/Exceptions.h"
#include "utils/FdOwner.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace korvo::mail {

namespace {

const char MAILDIRSIZE[] = "maildirsize";
constexpr std::size_t USAGE_LINE_SIZE = 32;

// One "<number><unit>" part of a quota line.
bool parseQuotaPart(const std::string& part, QuotaLimits& limits) {
    if (part.size() < 2)
        return false;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(part.c_str(), &end, 10);
    if (end != part.c_str() + part.size() - 1 || errno != 0 || value < 0)
        return false;
    if (*end == 'S')
        limits.bytes = value;
    else if (*end == 'C')
        limits.messages = value;
    else
        return false;
    return true;
}

// Adds the usage lines after the quota line, each a byte count and a
// message count, either negative where mail was removed; false when a line
// holds anything else.
bool sumUsage(const std::string& text, long long& bytes, long long& messages) {
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        long long lineBytes = 0;
        long long lineMessages = 0;
        std::string rest;
        if (!(fields >> lineBytes >> lineMessages) || (fields >> rest))
            return false;
        bytes += lineBytes;
        messages += lineMessages;
    }
    return true;
}

} // namespace

QuotaLimits parseQuotaLine(const std::string& line) {
    QuotaLimits limits;
    std::istringstream parts(line);
    std::string part;
    while (std::getline(parts, part, ','))
        if (!parseQuotaPart(part, limits))
            return QuotaLimits();
    return limits;
}

DeliveryQuota::DeliveryQuota(int maildirFd, std::string shownPath)
    : maildirFd_(maildirFd), shownPath_(std::move(shownPath)) {
    // Only a file the mail account can update carries a quota.
    if (::faccessat(maildirFd_, MAILDIRSIZE, W_OK, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT && errno != EACCES && errno != EROFS)
            throwSystemError("examine " + shownPath_ + "/" + MAILDIRSIZE);
        return;
    }
    enforced_ = true;
    if (!load())
        recount();
}

bool DeliveryQuota::load() {
    std::string text;
    bytes_ = 0;
    messages_ = 0;
    const bool readable = read_maildirpp_maildirsize(maildirFd_, text) != 0;
    limits_ = parseQuotaLine(text.substr(0, text.find('\n')));
    return readable && sumUsage(text, bytes_, messages_);
}

void DeliveryQuota::recount() {
    if (write_maildirpp_maildirsize_at(maildirFd_, shownPath_.c_str(), ::getuid(), ::getgid(),
                                       limits_.bytes,
                                       static_cast<unsigned long long>(limits_.messages)) == 0 ||
        !load())
        throwSystemError("count the mailbox " + shownPath_ + " into " + MAILDIRSIZE);
}

bool DeliveryQuota::admits(long long size) {
    if (!enforced_)
        return true;
    const auto fits = [&] {
        return (limits_.bytes == 0 || bytes_ + size <= limits_.bytes) &&
               (limits_.messages == 0 || messages_ + 1 <= limits_.messages);
    };
    if (fits())
        return true;
    recount();
    return fits();
}

void DeliveryQuota::record(long long size) const {
    if (!enforced_)
        return;
    const FdOwner file(
        ::openat(maildirFd_, MAILDIRSIZE, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
    char line[USAGE_LINE_SIZE];
    const int length = std::snprintf(line, sizeof line, "%12lld %12d\n", size, 1);
    if (file.get() >= 0 && length > 0)
        static_cast<void>(::write(file.get(), line, static_cast<std::size_t>(length)));
}

} // namespace korvo::mail
