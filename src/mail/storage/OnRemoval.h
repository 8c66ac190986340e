// What the removal of a domain or mailname does with the mail stored for it.
#ifndef KORVO_MAIL_STORAGE_ONREMOVAL_H
#define KORVO_MAIL_STORAGE_ONREMOVAL_H

namespace korvo::mail {

// Remove deletes the stored mail, Backup moves it to its backup name (see
// MaildirManager); any other value, Leave among them, leaves it where it is.
enum OnRemoval { Leave = 0, Remove = 1, Backup = 2 };

} // namespace korvo::mail

#endif
