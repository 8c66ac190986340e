// Internationalised domain names (IDNA) through GNU libidn.
//
// Domain names and the domain part of e-mail addresses are converted to
// their ASCII (punycode) form before the tool uses them anywhere else.
// Conversions use libidn without flags: labels with non-ASCII characters
// are nameprep'ed (lower-cased, normalised) and encoded; ASCII labels pass
// unchanged and are not held to the letter-digit-hyphen rule; every label is
// checked for length.
//
// Two interfaces: the function library's idn_toascii/idn_email_toascii
// return new malloc'ed strings, or null with the libidn code in idn_errno
// (running out of memory inside libidn ends the process); the class layer's
// korvo::idn functions return std::string and throw IdnaError with the code.
// idn_strerror gives the text of a code; IdnaError::what() uses it.
#ifndef KORVO_UTILS_IDN_H
#define KORVO_UTILS_IDN_H

#include <string>

// libidn code of the last failed idn_toascii.
extern int idn_errno;

const char* idn_strerror(int code);

char* idn_toascii(const char* name);
// The local part kept, the part after the first "@" converted. Null when the
// address holds no "@" (idn_errno untouched) or the domain does not convert.
char* idn_email_toascii(const char* address);

namespace korvo::idn {

std::string toAscii(const std::string& name);
std::string toUtf8(const std::string& name);
// The part up to the first "@" kept, the rest converted with toAscii; an
// address without "@" is returned unchanged.
std::string emailToAscii(const std::string& address);

} // namespace korvo::idn

#endif
