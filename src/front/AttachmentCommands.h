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

#include "front/CommandTable.h"

namespace korvo::mail::postfix::vornctl_commands {

int listAttachments(int argc, char** argv);
int addAttachment(int argc, char** argv);
int removeAttachment(int argc, char** argv);

// Adds the words of this family to the command table.
void registerAttachmentCommands(CommandMapAssigner& assign);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
