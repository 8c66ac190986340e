// Read queries on the panel database: domain aliases, mailnames, mail
// aliases, domain limits and panel settings.
//
// Every function takes an optional MySQL handle; with null it uses the
// run's SharedConnection (mysql/DbConnect.h) when one exists, else opens its
// own connection (db_connect) and closes it before returning. Names are escaped
// on that connection before they enter a query text, so a name holding a
// quote matches nothing instead of changing the query; names without quotes
// or backslashes leave the text exactly as written below.
//
// List results are string lists (utils/StringList.h): a null-terminated
// malloc'ed array of malloc'ed copies of the first column, null when no row
// came back; free them with free_array or hold them in a StringListOwner.
// Failures are logged through korvo_log at LOG_LEVEL_ERROR (get_dom_Limit, get_param
// and mysql_escape_mail_entity print through messlog2 instead) and give -1
// or null; the output is left untouched then.
#ifndef KORVO_MAIL_PANEL_PANELQUERIES_H
#define KORVO_MAIL_PANEL_PANELQUERIES_H

#include "mail/panel/MailnameAliases.h"
#include "utils/MallocOwners.h"

#include <mysql.h>
#include <optional>
#include <string>
#include <vector>

// Runs query and sets *list to the first column of its rows.
int exec_mysql_query(MYSQL* conn, const char* query, char*** list);

int get_domaliases_by_domain(MYSQL* conn, char*** list, const char* domain);
int get_aliases_by_mailname(MYSQL* conn, char*** list, const char* mailname, const char* domain);
int get_mailnames_by_domain(MYSQL* conn, char*** list, const char* domain);
// Sets *name to a new copy of the alias's domain; leaves it unset (and
// returns 0) when the panel does not know the alias.
int get_domain_by_domainalias(MYSQL* conn, char** name, const char* alias);

// The value of the domain's limit, in a static buffer that the next call
// overwrites; "" when the domain lacks the limit, null on failure.
const char* get_dom_Limit(const char* domainId, const char* limitName, MYSQL* conn);
// The panel setting name from the "misc" table, in a static buffer that the
// next call overwrites; "" when it is not set, null on failure.
const char* get_param(const char* name, MYSQL* conn);

// A new string: the name in its ASCII (IDNA) form, escaped for a quoted
// string on the connection; null after a message. Give it back with free().
char* mysql_escape_mail_entity(MYSQL* conn, const char* name);

// Sets list to the mailnames of domain, each with its mail aliases, read
// with one query (mailnames and aliases in the order the panel made them).
// On failure list is left untouched and -1 is returned.
int get_mailnames_with_aliases(MYSQL* conn, korvo::mail::MailnameAliasList& list,
                               const char* domain);

namespace korvo::mail {

// The domain aliases of domain, in the order the panel returns them; none
// when they cannot be read (the query logged why). Every caller above the
// query reads the list through this one function.
std::optional<std::vector<std::string>> domainAliasesOf(const std::string& domain);

} // namespace korvo::mail

#endif
