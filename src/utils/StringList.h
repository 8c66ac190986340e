// String lists: a malloc'ed array of malloc'ed strings ended by a null
// pointer, the result form of the panel queries and of string_split.
//
// A null list is an empty list. Lists grow one entry at a time with
// string_to_mas and are given back with free_array. Failures (memory only)
// are logged through korvo_log at LOG_LEVEL_ERROR.
#ifndef KORVO_UTILS_STRINGLIST_H
#define KORVO_UTILS_STRINGLIST_H

// Appends a copy of string and returns the (possibly moved) list. On failure
// it returns null and list is left as it was, still owned by the caller.
char** string_to_mas(char** list, const char* string);

// Frees every string and the array; null is accepted.
void free_array(char** list);

// Splits a copy of text at every character of separators. A run of
// separators counts as one and separators at the start are skipped, so a
// piece is empty only at the very end, after a trailing separator:
// "a, b" with ", " gives "a" and "b"; "a," gives "a" and "". Null on a
// failed copy, the pieces so far on a failed append.
char** string_split(const char* text, const char* separators);

#endif
