// The feature report of the server settings, written as PHP assignments on
// standard output for the panel to evaluate.
#ifndef KORVO_UTILS_FEATURES_H
#define KORVO_UTILS_FEATURES_H

// Prints "$features['NAME'] = VALUE;": "true" and "false" bare as PHP
// booleans, any other value inside double quotes as a PHP string. 0, or -1
// when nothing could be printed.
int print_feature(const char* name, const char* value);

#endif
