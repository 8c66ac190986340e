#include "setup/TmpfilesSetup.h"

#include "setup/FileSetup.h"
#include "setup/SetupPaths.h"
#include "utils/ReplaceFile.h"

namespace korvo::setup {

std::string lockDirectoryEntry() {
    return std::string("d ") + BOOT_LOCK_DIRECTORY + " 0755 root root -\n";
}

void ensureTmpfilesEntry(bool force, SetupReport& report) {
    if (pathExists(PACKAGED_TMPFILES_ENTRY))
        return;
    const std::string path = TMPFILES_ENTRY;
    const std::string wanted = lockDirectoryEntry();
    const std::string shown = wanted.substr(0, wanted.size() - 1);
    const bool found = pathExists(path);
    if (found && readWholeFile(path) == wanted)
        return;
    if (found && !force) {
        report.note(path + " differs from \"" + shown + "\"; left as it is (--force replaces it)");
        return;
    }
    ensureDirectory(TMPFILES_DIRECTORY, {0, 0, 0755}, force, report);
    ReplaceFile out(path, {0644});
    out.write(wanted);
    out.commit();
    report.changed((found ? "replaced " : "created ") + path + ": " + shown);
}

} // namespace korvo::setup
