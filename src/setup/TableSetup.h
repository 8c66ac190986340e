// The lookup tables Postfix reads for the tool's domains, made empty where
// missing.
//
// Each hash table of the catalogue whose indexed database (".db") is missing
// is built empty through postmap (DatabaseHelper); the pcre table of
// networks that may not relay becomes an empty file. Existing tables are
// never rebuilt, so the records in them stay. postmap failures raise
// PostfixConfigurationError, file failures korvo::SystemError.
#ifndef KORVO_SETUP_TABLESETUP_H
#define KORVO_SETUP_TABLESETUP_H

#include "setup/FileSetup.h"
#include "setup/SetupReport.h"

namespace korvo::setup {

// Ownership of the pcre source file (the hash databases get postmap's).
void ensureTables(const Ownership& pcreFile, bool force, SetupReport& report);

} // namespace korvo::setup

#endif
