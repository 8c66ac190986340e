// Attachment commands: list, add and remove the files of a mailbox's
// attachments store (Attachments.h).
//
// The domain is converted to ASCII and checked, the mailname and the
// attachment name are checked (see NameChecks.h) and the uploaded file's
// path must be one line, all before the store is touched. Exit statuses:
// 0, or 1 when the store function failed (it prints its own message);
// --list-attachments without exactly one of --mailname and --mail-all
// prints its complaint and usage on the error stream and exits with 1.
#ifndef KORVO_FRONT_ATTACHMENTCOMMANDS_H
#define KORVO_FRONT_ATTACHMENTCOMMANDS_H

#include "front/CommandRow.h"

namespace korvo::mail::postfix::vornctl_commands {

// The rows of this family's commands, for the command table.
extern const CommandDescription listAttachmentsCommand;
extern const CommandDescription addAttachmentCommand;
extern const CommandDescription removeAttachmentCommand;

} // namespace korvo::mail::postfix::vornctl_commands

#endif
