// The mail-name validator of the function library.
//
// mail_validate(name, type) returns 1 for an acceptable name and 0 for a
// refused one. Type MAIL_VALIDATE_MAILNAME (0), the only one the tool uses,
// refuses names holding "..", which would climb out of a mail home when the
// name becomes part of a path. An unknown type refuses every name and is
// logged through korvo_log.
#ifndef KORVO_UTILS_MAILVALIDATE_H
#define KORVO_UTILS_MAILVALIDATE_H

enum validation_type { MAIL_VALIDATE_MAILNAME = 0 };

int mail_validate(const char* name, int type);

#endif
