// The schema of the mail authentication database: the domains and users
// tables, their indexes, and the triggers that stand in for the foreign key
// (removing a domain removes its users). The tool itself never creates the
// database; the installer runs this script, as one piece, on an empty file.
#ifndef KORVO_MAIL_AUTH_MAILAUTHSCHEMA_H
#define KORVO_MAIL_AUTH_MAILAUTHSCHEMA_H

namespace korvo::mail::auth {

extern const char MAIL_AUTH_SCHEMA[];

} // namespace korvo::mail::auth

#endif
