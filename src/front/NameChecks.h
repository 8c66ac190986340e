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
//                 address: 1 to 64 bytes of valid UTF-8, no "/", "@",
//                 quote, backquote or backslash, no byte below 0x21 nor
//                 0x7f, no "..", and nothing mail_validate refuses;
//   address       mail name "@" domain name, in the form emailToAscii gives;
//   file name     attachment names, handler names: one path component of
//                 1 to 255 bytes of valid UTF-8, not "." or "..", no "/",
//                 no byte below 0x20 nor 0x7f;
//   single line   free texts stored as one line (handler context and
//                 executable, SPF settings): no byte below 0x20 nor 0x7f,
//                 valid UTF-8; may be empty.
//
// A refused name throws std::invalid_argument whose what() is the name as
// the command line gave it; main reports it as "Fatal error: " and the run
// ends with status 1 before anything was changed. IDNA failures throw
// korvo::idn::IdnaError, likewise reported by main.
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

// The predicates behind the checks; none of them throws.
bool isDomainName(const std::string& ascii);
bool isMailName(const std::string& name);
bool isAddress(const std::string& ascii);
bool isFileName(const std::string& name);
bool isSingleLine(const std::string& text);

// Each throws std::invalid_argument(text) when its predicate refuses text.
void checkDomainName(const std::string& ascii);
void checkMailName(const std::string& name);
void checkAddress(const std::string& ascii);
void checkFileName(const std::string& name);
void checkSingleLine(const std::string& text);

// korvo::idn::toAscii of a domain name as given, then the domain check;
// returns the ASCII form. A refusal names the text as given.
std::string asciiDomainName(const std::string& given);
// korvo::idn::emailToAscii of an address as given, then the address check;
// returns the ASCII form. A refusal names the text as given.
std::string asciiAddress(const std::string& given);

} // namespace vornctl_commands

} // namespace korvo::mail::postfix

#endif
