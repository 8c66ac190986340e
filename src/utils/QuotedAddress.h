// Mail addresses as other programs must be handed them.
//
// Postfix hands its delivery programs addresses in its internal form, with
// the quotes of a local part such as "john doe" removed. Passed on like
// that, to sendmail or in an SMTP command, the address means something
// else: sendmail reads "john doe@remote.example" as two recipients, john
// and doe@remote.example, and an SMTP server refuses it. quotedAddress puts
// the quotes back where RFC 5321 and 5322 need them. Nothing here fails.
#ifndef KORVO_UTILS_QUOTEDADDRESS_H
#define KORVO_UTILS_QUOTEDADDRESS_H

#include <string>

namespace korvo {

// The address with its local part (before the last "@") as a quoted string,
// backslashes before quotes and backslashes, when it is not a dot-atom (a
// blank, a quote, two dots in a row...); otherwise the address as it is.
// Bytes of UTF-8 characters pass unquoted, as SMTPUTF8 allows them. The
// empty address (the null sender) stays empty.
std::string quotedAddress(const std::string& address);

} // namespace korvo

#endif
