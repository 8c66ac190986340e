// Quoting text for a POSIX shell command line.
//
// shell_escape_chars classes every byte: '*' for the shell metacharacters
// and blanks (tab, blank, " # $ & ' ( ) * ; < > ? [ \ ` | ~), 'n' for the
// newline, '-' for every other byte, bytes above 127 included.
// korvo::sh_quote escapes '*' bytes with a backslash and writes a newline as
// a single-quoted newline, so that the shell reads the text back as one
// word, byte for byte. check_shell_arg_nothrow tells whether a text can go
// on a command line unquoted.
#ifndef KORVO_UTILS_SHELLQUOTE_H
#define KORVO_UTILS_SHELLQUOTE_H

#include <array>
#include <string>

extern const std::array<char, 256> shell_escape_chars;

// 1 when text is null, empty or made of bytes classed '-' only, else 0.
int check_shell_arg_nothrow(const char* text);

namespace korvo {

std::string sh_quote(const std::string& text);

} // namespace korvo

#endif
