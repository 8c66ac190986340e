// Small C-string helpers of the function library.
//
// Results called "new" are malloc'ed and freed by the caller. asprintf_safe
// ends the process when memory runs out; strtolower_dynamic reports it
// through korvo_log and returns null.
#ifndef KORVO_UTILS_STRINGUTILS_H
#define KORVO_UTILS_STRINGUTILS_H

// A new formatted string; never null.
char* asprintf_safe(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Lower-cases text in place and returns it.
char* strtolower(char* text);
// A new lower-cased copy of text; null for null or when copying fails.
char* strtolower_dynamic(const char* text);

// Removes trailing whitespace in place and returns a pointer to the first
// character of text that is not whitespace.
char* korvo_trim(char* text);

#endif
