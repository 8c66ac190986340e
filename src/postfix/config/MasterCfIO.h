// Reading and writing master.cf-format files as MasterCfContent.
//
// loadMasterCf maps the whole file into memory and parses it with
// MasterCfParser; storeMasterCf replaces the file safely: under an MKLock
// on the path it writes a temporary file beside it, gives it mode 0644 and
// renames it over the old one, so readers see either the old or the new
// file and a failed store leaves the old file in place. Loading then storing
// an unchanged content writes the file back byte for byte; only a missing
// final line feed is added.
//
// Failures: a file that cannot be opened or mapped, is not a regular file or
// is empty raises PostfixConfigurationError "unable to open PATH"; text that
// does not parse to the end raises PostfixConfigurationError "unable to
// parse PATH" (the content is then incomplete and must be discarded).
// Writing raises std::ios_base::failure for stream errors, korvo::SystemError
// when no temporary file or lock can be made, and korvo::mail::FSError
// "chmod" or "rename" naming the files and the system error.
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

} // namespace korvo::mail::postfix

#endif
