// The one gate for every name a command takes from the command line.
//
// Names end up in paths (mail homes, attachment stores, the handler
// registry), in lookup-table records, in .qmail lines, in main.cf and in
// panel queries. Each kind of name has one check here, and every command
// applies it right after the IDNA conversion, before it reads or changes
// anything:
//
//   domain name   domain names, domain alias names, RBL zones and the domain
//                 of every address: 1 to 253 bytes of ASCII (the IDNA form),
//                 labels of 1 to 63 letters, digits, "-" or "_" joined by
//                 single dots, no leading or trailing dot, no label that
//                 begins or ends with "-", no ACE label ("xn--") that does
//                 not decode to a name IDNA encodes back to it;
//   mail name     mailnames, mail alias names and the local part of every
//                 mailbox address: 1 to 64 bytes of valid UTF-8, no "/",
//                 "@", comma, quote, backquote or backslash, no blank or
//                 control character, no "..", no leading "#" (a table
//                 comment), and nothing mail_validate refuses;
//   address       mail name "@" domain name, in the form emailToAscii gives;
//   target        where mail is sent on (a redirect, a catch-all): any one
//                 address, local part of 1 to 64 bytes and a domain name,
//                 without control characters, blanks, commas or a second
//                 "@" ("o'brien@other.org" and "a+b@example.org" pass);
//   file name     attachment names, handler names: one path component of 1
//                 to 255 bytes of valid UTF-8, not "." or "..", no "/", no
//                 control character;
//   removal name  the mailname a removal takes, so that a mailbox made
//                 under older rules can still go: a file name without
//                 blanks (a table key carries it);
//   single line   free texts stored as one line (handler context and
//                 executable, SPF settings): no byte below 0x20 nor 0x7f,
//                 valid UTF-8; may be empty.
//
// A refused name throws std::invalid_argument whose what() names the
// option, when the caller gives it, the name as the command line gave it
// and the rule it breaks ("--redirect-email: 'a b@x.org' holds a blank"),
// so that the panel can show it to its user; main reports it as
// "Fatal error: " and the run ends with status 1 before anything was
// changed. IDNA failures throw korvo::idn::IdnaError, likewise reported by
// main.
//
// Use:
//     const std::string domain = asciiDomainName(vars["domain-name"].as<std::string>());
//     checkMailName(mailname);
//     const std::string target = asciiAddress(vars["redirect-email"].as<std::string>());
#ifndef KORVO_FRONT_NAMECHECKS_H
#define KORVO_FRONT_NAMECHECKS_H

#include "utils/MailValidate.h"

#include <string>

namespace korvo::mail::postfix {

namespace mailname_validators {

// mail_validate(name, type); a refused name throws std::invalid_argument
// whose what() is the name. Returns the validator's non-zero result.
int mailValidateExc(const std::string& name, validation_type type);

} // namespace mailname_validators

namespace vornctl_commands {

// The rule a name breaks, "" when it breaks none; none of them throws.
std::string domainNameRule(const std::string& ascii);
std::string mailNameRule(const std::string& name);
std::string addressRule(const std::string& ascii);
std::string targetAddressRule(const std::string& ascii);
std::string fileNameRule(const std::string& name);
// A file name without blanks: a table key must carry it.
std::string removalNameRule(const std::string& name);

bool isDomainName(const std::string& ascii);
bool isMailName(const std::string& name);
bool isAddress(const std::string& ascii);
bool isTargetAddress(const std::string& ascii);
bool isFileName(const std::string& name);
bool isSingleLine(const std::string& text);

// Each throws std::invalid_argument naming option (when not empty), the
// text and the rule when the text breaks one.
void checkDomainName(const std::string& ascii, const std::string& option = "");
void checkMailName(const std::string& name, const std::string& option = "");
void checkAddress(const std::string& ascii, const std::string& option = "");
void checkTargetAddress(const std::string& ascii, const std::string& option = "");
void checkFileName(const std::string& name, const std::string& option = "");
void checkRemovalName(const std::string& name, const std::string& option = "");
void checkSingleLine(const std::string& text, const std::string& option = "");

// korvo::idn::toAscii of a domain name as given, then the domain check;
// returns the ASCII form. A refusal names the text as given.
std::string asciiDomainName(const std::string& given, const std::string& option = "");
// korvo::idn::emailToAscii of an address as given, then the mailbox
// address check; returns the ASCII form.
std::string asciiAddress(const std::string& given, const std::string& option = "");
// The same with the target rules.
std::string asciiTargetAddress(const std::string& given, const std::string& option = "");

} // namespace vornctl_commands

} // namespace korvo::mail::postfix

#endif
