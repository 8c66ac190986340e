// Reading and writing master.cf-format files as MasterCfContent.
//
// loadMasterCf maps the whole file into memory and parses it with
// MasterCfParser; storeMasterCf replaces the file safely under an MKLock on
// the path (replaceMasterCf does the same for a caller that holds the lock
// already): a temporary file of mode 0644 beside it is written, flushed to
// disk and renamed over the old one, and the directory is flushed, so
// readers and a crash leave either the old or the new file, never an empty
// one, and a failed store leaves the old file in place. A file that is a
// symbolic link (as configuration management keeps it) is replaced at the
// link's final target; the link stays. Loading then storing an unchanged
// content writes the file back byte for byte; only a missing final line
// feed is added.
//
// Failures: a file that cannot be opened or mapped, is not a regular file or
// is empty raises PostfixConfigurationError "unable to open PATH"; text that
// does not parse to the end raises PostfixConfigurationError "unable to
// parse PATH" (the content is then incomplete and must be discarded).
// Writing raises korvo::SystemError naming the step (create, write, fsync,
// rename), the file and the system error, and the lock's own errors.
#ifndef KORVO_POSTFIX_MASTERCFIO_H
#define KORVO_POSTFIX_MASTERCFIO_H

#include "postfix/config/MasterCfContent.h"

#include <ostream>
#include <string>

namespace korvo::mail::postfix {

// Parses [first, last) into content; true when all of it parsed.
bool parseMasterCf(const char* first, const char* last, MasterCfContent& content);
// Writes every line followed by a line feed, flushing after each.
void writeMasterCf(std::ostream& out, const MasterCfContent& content);

void loadMasterCf(const std::string& path, MasterCfContent& content);
void storeMasterCf(const std::string& path, const MasterCfContent& content);
// storeMasterCf without taking the lock: the caller holds the MKLock that
// guards path.
void replaceMasterCf(const std::string& path, const MasterCfContent& content);

} // namespace korvo::mail::postfix

#endif
