// The two report channels of the function library.
//
// korvo_log(level, format, ...) is a hook: by default it prints the
// formatted line on standard error and again on standard output when level
// (one of the LOG_LEVEL_ constants below) is at most LogLevel (6). korvo_log_init can point the
// hooks at syslog; the mail tool never does. messlog2 always prints on both streams, appends the
// text of a non-zero errno, and ends the process when its status is non-zero.
// Single-threaded: the logging state is process-wide and unlocked.
#ifndef KORVO_UTILS_LOGGING_H
#define KORVO_UTILS_LOGGING_H

#include <cstdarg>

extern int LogLevel;
extern int LogFacility;
extern int LogEnabled;

using korvo_log_fn = void (*)(int level, const char* format, ...);
using korvo_logv_fn = void (*)(int level, const char* format, va_list args);

extern korvo_log_fn korvo_log;
extern korvo_logv_fn korvo_logv;

// The levels the library logs at (syslog numbering; syslog.h's own macros
// are not used, so that including it changes nothing here).
constexpr int LOG_LEVEL_ERROR = 3;
constexpr int LOG_LEVEL_WARNING = 4;
constexpr int LOG_LEVEL_INFO = 6;
constexpr int LOG_LEVEL_DETAIL = 12;

// Logs the line at LOG_LEVEL_ERROR and returns -1, the failure result of
// the library's functions: "return korvo_error(...);" reports and fails in
// one statement.
int korvo_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

void _korvo_utility_log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void _korvo_utility_logv(int level, const char* format, va_list args);

void korvo_log_init(const char* target, int level, int facility, int options, const char* ident);

void messlog2(int exitStatus, int flag, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void vmesslog2(int exitStatus, int flag, const char* format, va_list args);

#endif
