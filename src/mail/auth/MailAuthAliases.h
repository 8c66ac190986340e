// Changes of the mail authentication database spread over every address
// that reaches the same mailbox: the mailname in its domain and in each
// domain alias, and the mailname's mail aliases likewise.
//
// The aliases come from the panel database (PanelQueries.h): the domain
// aliases are read once per operation, the mailnames of a domain with
// their mail aliases in one query; each query uses the run's
// SharedConnection when there is one, else a connection of its own. The
// changes are the single operations of MailAuth.h (a new alias's copies:
// one transaction, mailAuthCloneUsers). A password set and a new alias
// also link each alias's row to its domain's (mailAuthLinkAliases), which
// is how a login at the alias finds the domain's mail home; removing a row
// drops its links. An operation stops at the first failure, logs it
// through korvo_log at LOG_LEVEL_ERROR and returns -1; what it changed before
// stays changed. Otherwise the result is 1 when it worked through a
// non-empty list of aliases (or mailnames) and 0 when that list was empty
// (rm_domain_auth_alias: 0). The flags are those of mailAuthSet.
#ifndef KORVO_MAIL_AUTH_MAILAUTHALIASES_H
#define KORVO_MAIL_AUTH_MAILAUTHALIASES_H

#include "mail/panel/MailnameAliases.h"

// set_postbox_passwd for mailname in domain and in each alias of domain.
int set_passwd_for_domains(const char* mailname, const char* domain, const char* password,
                           int flags);
// set_passwd_for_domains for mailname and for each of its mail aliases.
int set_mass_postbox_passwd(const char* mailname, const char* domain, const char* password,
                            int flags);
// Removes mailname from domain and from each alias of domain.
int rm_mname_from_domains(const char* mailname, const char* domain);
// rm_mname_from_domains for mailname and for each of its mail aliases.
int rm_mails_from_domains(const char* mailname, const char* domain);
// Applies action to domain, then to each of its aliases; actionName fills
// the messages ("Unable to %s for domain %s").
int domain_auth_action(const char* domain, int (*action)(const char*), const char* actionName);
// Gives the new alias the credentials of every mailname and mail alias of
// domain.
int add_domain_auth_alias(const char* domain, const char* alias);
// The same from the mailnames the caller read (get_mailnames_with_aliases).
int add_domain_auth_alias(const char* domain, const char* alias,
                          const korvo::mail::MailnameAliasList& mailnames);
// Removes the alias domain and every mailname and mail alias in it.
int rm_domain_auth_alias(const char* alias);

#endif
