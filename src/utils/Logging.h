// The two report channels of the function library.
//
// korvo_log(level, format, ...) is a hook: by default it prints the
// formatted line on standard error and again on standard output when level
// (syslog numbering: 3 error, 4 warning, 6 informational, 12 silent detail)
// is at most LogLevel (6). korvo_log_init can point the hooks at syslog; the
// mail tool never does. messlog2 always prints on both streams, appends the
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

void _korvo_utility_log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void _korvo_utility_logv(int level, const char* format, va_list args);

void korvo_log_init(const char* target, int level, int facility, int options, const char* ident);

void messlog2(int exitStatus, int flag, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void vmesslog2(int exitStatus, int flag, const char* format, va_list args);

#endif
