// The schema of the mail authentication database: the domains and users
// tables, their indexes, and the triggers that stand in for the foreign key
// (removing a domain removes its users). The tool itself never creates the
// database; the installer runs this script, as one piece, on an empty file.
//
// Beside them, the alias links: domain_aliases maps a domain alias's row in
// domains to its domain's row, so that a login at the alias finds the
// domain's mail home and its status. The links came after the first
// databases were made, so their script only adds what is missing and runs
// on any database, new or old, inside the caller's transaction. Removing
// either domain row removes its links.
#ifndef KORVO_MAIL_AUTH_MAILAUTHSCHEMA_H
#define KORVO_MAIL_AUTH_MAILAUTHSCHEMA_H

namespace korvo::mail::auth {

extern const char MAIL_AUTH_SCHEMA[];
extern const char MAIL_AUTH_ALIAS_LINKS[];

} // namespace korvo::mail::auth

#endif
