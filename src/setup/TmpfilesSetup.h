// The boot-time entry that recreates the lock directory: /var/lock lies on a
// tmpfs, emptied at every boot, and every table change locks a file in
// there.
//
// The package ships the entry in /usr/lib/tmpfiles.d; without the package,
// setup writes the same entry to /etc/tmpfiles.d (in one replacement). An
// entry of another content there is an administrator's: noted and kept
// unless force. Failures raise korvo::SystemError naming the file.
#ifndef KORVO_SETUP_TMPFILESSETUP_H
#define KORVO_SETUP_TMPFILESSETUP_H

#include "setup/SetupReport.h"

#include <string>

namespace korvo::setup {

// The entry's text, one line.
std::string lockDirectoryEntry();

void ensureTmpfilesEntry(bool force, SetupReport& report);

} // namespace korvo::setup

#endif
