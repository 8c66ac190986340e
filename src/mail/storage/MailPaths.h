// Where mail homes live.
//
// Every mail home lies below the configured root KORVO_MAILNAMES_D
// (/etc/orq/orq.conf, default /var/qmail/mailnames), read at every call so
// that a changed configuration is seen. Domains, mailnames and attachment
// names become single path components below it; callers refuse any other
// name with is_path_component (mail/PathComponent.h) first.
#ifndef KORVO_MAIL_STORAGE_MAILPATHS_H
#define KORVO_MAIL_STORAGE_MAILPATHS_H

#include <cstddef>
#include <string>

namespace korvo::mail {

// The root of all mail homes.
std::string mailnamesRoot();

// root/domain/mailname; domain in its ASCII form.
std::string mailHomePath(const std::string& domain, const std::string& mailname);

// The ASCII (IDNA) form of a domain through idn_toascii, or "" after the
// message "idn_toascii(...) failed: ..." (with the domain when showDomain is
// set, else "idn_toascii() failed: ...") on both output streams; a failure
// ends the process with status exitStatus when that is non-zero.
std::string asciiDomain(const char* domain, bool showDomain, int exitStatus);

// Paths are built into buffers of this size by the function library; a path
// that does not fit is refused.
constexpr std::size_t maxMailPath = 4096;

} // namespace korvo::mail

#endif
