// Where the setup program puts what the tool and the delivery agent expect,
// and the names it gives them. Pure constants.
#ifndef KORVO_SETUP_SETUPPATHS_H
#define KORVO_SETUP_SETUPPATHS_H

namespace korvo::setup {

// The lookup tables, the authentication database and the file of switched
// off services live here.
inline constexpr char TABLE_DIRECTORY[] = "/var/spool/postfix/korvo";
inline constexpr char AUTH_DATABASE[] = "/var/spool/postfix/korvo/passwd.db";
inline constexpr char HANDLER_REGISTRY[] = "/usr/local/orq/handlers";
inline constexpr char HANDLER_REGISTRY_INFO[] = "/usr/local/orq/handlers/info";

inline constexpr char MAIL_ACCOUNT[] = "popuser";
// Owner of the authentication database, so that the SMTP side can read it.
inline constexpr char POSTFIX_ACCOUNT[] = "postfix";

// The name .qmail files give the quota-enforcing Maildir delivery, and the
// program maildrop ships under another name.
inline constexpr char DELIVERQUOTA_LINK[] = "/usr/bin/deliverquota";
inline constexpr char DELIVERQUOTA_PROGRAM[] = "/usr/sbin/deliverquota.maildrop";

// The master.cf service (and so the transport name) of the delivery agent.
inline constexpr char TRANSPORT[] = "korvo";

inline constexpr char GROUPADD[] = "/usr/sbin/groupadd";
inline constexpr char USERADD[] = "/usr/sbin/useradd";
inline constexpr char NOLOGIN_SHELL[] = "/usr/sbin/nologin";

} // namespace korvo::setup

#endif
