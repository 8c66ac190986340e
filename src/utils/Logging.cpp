#include "utils/Logging.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <syslog.h>

int LogLevel = 6;
int LogFacility = LOG_MAIL;
int LogEnabled = 1;

korvo_log_fn korvo_log = _korvo_utility_log;
korvo_logv_fn korvo_logv = _korvo_utility_logv;

namespace {

// vsnprintf into a string of whatever length the message needs; false when
// the memory cannot be had.
bool formatMessage(std::string& out, const char* format, va_list args) {
    va_list sizing;
    va_copy(sizing, args);
    const int needed = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (needed < 0)
        return false;
    try {
        out.resize(static_cast<std::size_t>(needed) + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<std::size_t>(needed));
    return true;
}

void printTwice(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void ex_messlog(int exitStatus, const std::string& message) {
    printTwice(!message.empty() && message.back() == '\n' ? message : message + "\n");
    if (exitStatus != 0)
        std::exit(exitStatus);
}

void syslogHook(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(level, format, args);
    va_end(args);
}

} // namespace

void _korvo_utility_logv(int level, const char* format, va_list args) {
    if (!LogEnabled || level > LogLevel)
        return;
    std::string text;
    if (formatMessage(text, format, args))
        printTwice(text + "\n");
}

void _korvo_utility_log(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    _korvo_utility_logv(level, format, args);
    va_end(args);
}

int korvo_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    korvo_logv(LOG_LEVEL_ERROR, format, args);
    va_end(args);
    return -1;
}

void korvo_log_init(const char* target, int level, int facility, int options, const char* ident) {
    LogFacility = facility;
    LogLevel = level < 1 ? 0 : level;
    if (target == nullptr) {
        openlog(ident, options | LOG_PID, facility);
        korvo_log = syslogHook;
        korvo_logv = vsyslog;
        LogEnabled = level >= 1;
        return;
    }
    korvo_log = _korvo_utility_log;
    korvo_logv = _korvo_utility_logv;
    LogEnabled = level >= 1 && strncasecmp(target, "console", 7) == 0;
}

void vmesslog2(int exitStatus, int /*flag*/, const char* format, va_list args) {
    const int savedErrno = errno;
    std::string message;
    if (!formatMessage(message, format, args)) {
        ex_messlog(exitStatus, "Can't allocate memory for error message");
        return;
    }
    if (savedErrno != 0)
        message +=
            "\nSystem error " + std::to_string(savedErrno) + ": " + std::strerror(savedErrno);
    ex_messlog(exitStatus, message);
}

void messlog2(int exitStatus, int flag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vmesslog2(exitStatus, flag, format, args);
    va_end(args);
}
