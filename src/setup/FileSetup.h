// Directories, files and links the setup program makes, with owners and
// modes, without following a symbolic link planted where one of them goes.
//
// Every function creates what is missing, with the wanted owner and mode set
// through the new object's descriptor, and reports the change. What exists
// already is kept: when its owner or mode differ from the wanted ones it is
// only noted, unless force, which resets them (and reports that). Something
// of the wrong kind at the path (a file where a directory belongs, a
// symbolic link anywhere) is never touched: korvo::SystemError naming the
// path. System call failures raise korvo::SystemError naming the operation,
// the path and errno.
#ifndef KORVO_SETUP_FILESETUP_H
#define KORVO_SETUP_FILESETUP_H

#include "setup/SetupReport.h"

#include <string>
#include <sys/types.h>

namespace korvo::setup {

struct Ownership {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

// "owner UID:GID mode 0MODE".
std::string describeOwnership(const Ownership& ownership);

// Compares the object open at fd with wanted; see the header comment.
void checkOwnership(int fd, const std::string& path, const Ownership& wanted, bool force,
                    SetupReport& report);

// Missing parents are created owned by root with mode 0755.
void ensureDirectory(const std::string& path, const Ownership& wanted, bool force,
                     SetupReport& report);

// An empty regular file when there is nothing at path.
void ensureFile(const std::string& path, const Ownership& wanted, bool force, SetupReport& report);

// Whether anything, a dangling link too, is at path; korvo::SystemError for
// a failure other than ENOENT.
bool pathExists(const std::string& path);

// The whole content of a file; korvo::SystemError naming it.
std::string readWholeFile(const std::string& path);

// A symbolic link at path to target when there is nothing at path; anything
// already there, link or file, is left as it is.
void ensureSymlink(const std::string& path, const std::string& target, SetupReport& report);

} // namespace korvo::setup

#endif
