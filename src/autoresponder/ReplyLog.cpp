#include "autoresponder/ReplyLog.h"

#include "utils/Exceptions.h"
#include "utils/FileCopy.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace korvo::autoresponder {

namespace {

const char* const LOG_NAME = ".autoresponder-replies";
const char* const LOCK_NAME = ".autoresponder-replies.lock";
const char* const NEW_LOG_NAME = ".autoresponder-replies.new";

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string readLog(int fd) {
    std::string text;
    if (!readAll(fd, text))
        throwSystemError(std::string("read ") + LOG_NAME, errno);
    return text;
}

void writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            throwSystemError(std::string("write ") + NEW_LOG_NAME, errno);
        done += static_cast<std::size_t>(put);
    }
}

} // namespace

ReplyLog::ReplyLog(int homeFd)
    : homeFd_(homeFd),
      lock_(::openat(homeFd, LOCK_NAME, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
    if (lock_.get() < 0)
        throwSystemError(std::string("open ") + LOCK_NAME, errno);
    while (::flock(lock_.get(), LOCK_EX) != 0)
        if (errno != EINTR)
            throwSystemError(std::string("lock ") + LOCK_NAME, errno);
    const FdOwner log(::openat(homeFd, LOG_NAME, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (log.get() < 0) {
        if (errno != ENOENT)
            throwSystemError(std::string("open ") + LOG_NAME, errno);
        return;
    }
    std::istringstream lines(readLog(log.get()));
    std::time_t when = 0;
    std::string sender;
    while (lines >> when >> sender)
        replies_[sender] = when;
}

bool ReplyLog::repliedWithin(const std::string& sender, long interval, std::time_t now) const {
    const auto found = replies_.find(lower(sender));
    return found != replies_.end() && now - found->second < interval;
}

void ReplyLog::record(const std::string& sender, long interval, std::time_t now) {
    replies_[lower(sender)] = now;
    std::string text;
    for (const auto& [address, when] : replies_)
        if (now - when < interval || address == lower(sender))
            text += std::to_string(when) + " " + address + "\n";
    ::unlinkat(homeFd_, NEW_LOG_NAME, 0);
    FdOwner fresh(::openat(homeFd_, NEW_LOG_NAME,
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fresh.get() < 0)
        throwSystemError(std::string("create ") + NEW_LOG_NAME, errno);
    writeAll(fresh.get(), text);
    if (::fsync(fresh.get()) != 0)
        throwSystemError(std::string("sync ") + NEW_LOG_NAME, errno);
    fresh.close();
    if (::renameat(homeFd_, NEW_LOG_NAME, homeFd_, LOG_NAME) != 0)
        throwSystemError(std::string("rename ") + NEW_LOG_NAME + " to " + LOG_NAME, errno);
}

} // namespace korvo::autoresponder
