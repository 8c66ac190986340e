// What a lookup-table record line can carry.
//
// A record line is key, one blank, value, line feed, with no escaping, and
// postmap reads it back by its own rules: it splits the line at the first
// white space, trims the value, skips lines starting with "#", and drops
// (with a warning, still exiting 0) a line whose value is blank or whose
// text is not valid UTF-8. A key or value that postmap would split, skip or
// drop would be reported as stored while it is not, or would store other
// records than the ones given, so the table layer refuses it before postmap
// runs.
//
// Failures: std::invalid_argument whose message names the refused text.
// Use: requireRepresentableKey(key); requireRepresentableValue(value);
#ifndef KORVO_POSTFIX_RECORDTEXT_H
#define KORVO_POSTFIX_RECORDTEXT_H

#include <string>

namespace korvo::mail::postfix {

// True when text is well-formed UTF-8: shortest forms only, no surrogate
// halves, nothing beyond U+10FFFF (what postmap accepts).
bool isValidUtf8(const std::string& text);

// Refuses an empty key, one starting with "#", one holding white space, and
// one that is not valid UTF-8.
void requireRepresentableKey(const std::string& key);
// Refuses a value that is empty or blank only, holds a line feed, or is not
// valid UTF-8.
void requireRepresentableValue(const std::string& value);

} // namespace korvo::mail::postfix

#endif
