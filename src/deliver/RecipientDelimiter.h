// Postfix's recipient_delimiter, read from main.cf without running postconf.
//
// The characters that may separate an address extension from the mailname
// ("info+news@example.com" is delivered to info's mailbox): the value of the
// last recipient_delimiter line of main.cf in Postfix's configuration
// directory (MAIL_CONFIG, which Postfix exports to its pipe transport, or
// /etc/postfix). Continuation lines and comments are read as Postfix reads
// them; a value that names other parameters is taken literally, and a
// main.cf without the parameter means no extensions, as in Postfix. When
// main.cf cannot be read the delimiter is "+", Debian's setting: the full
// mailname is always tried first, so a wrong guess costs nothing. Never
// fails.
#ifndef KORVO_DELIVER_RECIPIENTDELIMITER_H
#define KORVO_DELIVER_RECIPIENTDELIMITER_H

#include <string>

namespace korvo::deliver {

std::string recipientDelimiters();

// The delimiters set in the text of a main.cf; fallback when none is.
std::string delimitersInMainCf(const std::string& mainCf, const std::string& fallback);

} // namespace korvo::deliver

#endif
