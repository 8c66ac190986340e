// Where the setup program puts what the tool and the delivery agent expect,
// and the names it gives them. Pure constants; the handler registry's paths
// are the registry's own.
#ifndef KORVO_SETUP_SETUPPATHS_H
#define KORVO_SETUP_SETUPPATHS_H

#include "mail/handlers/HandlerRegistry.h"
#include "mail/settings/Autoresponder.h"

namespace korvo::setup {

// The lookup tables, the authentication database and the file of switched
// off services live here.
inline constexpr char TABLE_DIRECTORY[] = "/var/spool/postfix/korvo";
inline constexpr char AUTH_DATABASE[] = "/var/spool/postfix/korvo/passwd.db";
inline constexpr char HANDLER_REGISTRY[] = KORVO_HANDLERS_ROOT;
inline constexpr char HANDLER_REGISTRY_INFO[] = KORVO_HANDLERS_INFO_D;
// The hook programs, and where the registered autoresponder handlers point.
inline constexpr char HANDLER_HOOKS[] = KORVO_HANDLERS_ROOT "/hooks";
inline constexpr char AUTORESPONDER_HOOK[] = KORVO_AUTORESPONDER_HOOK;

inline constexpr char MAIL_ACCOUNT[] = "popuser";
// Owner of the authentication database, so that the SMTP side can read it.
inline constexpr char POSTFIX_ACCOUNT[] = "postfix";

// The name .qmail files give the quota-enforcing Maildir delivery, and the
// program maildrop ships under another name.
inline constexpr char DELIVERQUOTA_LINK[] = "/usr/bin/deliverquota";
inline constexpr char DELIVERQUOTA_PROGRAM[] = "/usr/sbin/deliverquota.maildrop";

// The master.cf service (and so the transport name) of the delivery agent.
inline constexpr char TRANSPORT[] = "korvo";

// Where the tool's smtpd services find the before-queue filter, and where
// the filter hands mail back to Postfix.
inline constexpr char FILTER_LISTENER[] = "127.0.0.1:10025";
inline constexpr char REINJECTION_LISTENER[] = "127.0.0.1:10026";
// The transport of mail for other hosts that runs the before-remote
// handlers, and where it hands the mail back.
inline constexpr char REMOTE_TRANSPORT[] = "korvo-remote";
inline constexpr char REMOTE_REINJECTION_LISTENER[] = "127.0.0.1:10027";

// The lock directory (/var/lock/files) as the boot-time entry names it:
// /var/lock is a link to /run/lock, which is emptied at every boot.
inline constexpr char BOOT_LOCK_DIRECTORY[] = "/run/lock/files";
// The entry the package ships, and the one setup writes without it.
inline constexpr char PACKAGED_TMPFILES_ENTRY[] = "/usr/lib/tmpfiles.d/vornctl.conf";
inline constexpr char TMPFILES_DIRECTORY[] = "/etc/tmpfiles.d";
inline constexpr char TMPFILES_ENTRY[] = "/etc/tmpfiles.d/vornctl.conf";

inline constexpr char GROUPADD[] = "/usr/sbin/groupadd";
inline constexpr char USERADD[] = "/usr/sbin/useradd";
inline constexpr char NOLOGIN_SHELL[] = "/usr/sbin/nologin";

} // namespace korvo::setup

#endif
