// The mail authentication database as a fresh installation needs it: the
// SQLite file with the domains and users tables, their indexes and the
// triggers that stand in for the foreign key, owned by postfix, group root.
//
// A missing file is built under a temporary name beside it and linked into
// place only when complete, so a reader never sees a half-made database and
// a file created meanwhile by someone else is never replaced. An existing
// file that holds both tables is kept (its owner and mode are checked like
// every other object) and gets the domain alias links where it lacks them;
// an empty one gets the schema; a file with other tables is refused and
// left alone, since it may hold someone's data.
//
// Failures raise korvo::SystemError (files) or std::runtime_error (SQLite,
// with its error text), each naming the file.
#ifndef KORVO_SETUP_AUTHDATABASESETUP_H
#define KORVO_SETUP_AUTHDATABASESETUP_H

#include "setup/FileSetup.h"
#include "setup/SetupReport.h"

#include <string>

namespace korvo::setup {

void ensureAuthDatabase(const std::string& path, const Ownership& wanted, bool force,
                        SetupReport& report);

} // namespace korvo::setup

#endif
