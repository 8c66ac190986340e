// Courier's side of mail access: its authentication daemon reads the tool's
// authentication database, and Courier IMAP and POP3 read the tool's
// settings files.
//
// Courier's rc files (authdaemonrc, authsqliterc) are edited line by line:
// a setting the file lacks, or holds with Debian's shipped value or the
// one an earlier setup wrote, gets the wanted value; one someone else set
// is reported and left as it is unless force. Every other line, the
// configuration tool's marker line among them, stays. The settings files
// the tool writes (imapd, imapd-ssl, pop3d, pop3d-ssl in the tool's
// directory) become the ones Courier reads: the packaged file moves there
// once, and a link takes its place. Each file changes in one replacement;
// failures raise korvo::SystemError naming the file and the system error,
// or std::runtime_error when Courier is missing.
#ifndef KORVO_SETUP_COURIERSETUP_H
#define KORVO_SETUP_COURIERSETUP_H

#include "setup/SetupReport.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace korvo::setup {

struct RcSetting {
    std::string name;
    std::string value;
    // Replaced without asking: what the package ships, and what earlier
    // versions of setup wrote.
    std::vector<std::string> replaceable;
};

// NAME=value (authdaemonrc, the daemons' settings) or NAME<tab>value.
enum class RcSyntax { Assignment, Spaced };

// True when the file was written.
bool ensureRcSettings(const std::string& path, RcSyntax syntax,
                      const std::vector<RcSetting>& settings, bool force, SetupReport& report);

// The authsqlite query: the address, both password columns, the mail
// account, the mail home and its Maildir of an enabled user of an enabled
// domain, names compared regardless of letter case. A user of a domain
// alias gets the home of the same mailname in the alias's domain, and is
// refused while that domain is switched off.
std::string authSelectClause(const std::string& mailRoot, uid_t uid, gid_t gid);
// The query setup wrote before domain aliases were linked; replaced by the
// one above without asking.
std::string authSelectClauseWithoutAliases(const std::string& mailRoot, uid_t uid, gid_t gid);

// authdaemonrc with authsqlite alone, authsqliterc over the database.
bool ensureCourierAuth(const std::string& courierDir, const std::string& database,
                       const std::string& mailRoot, uid_t uid, gid_t gid, bool force,
                       SetupReport& report);

// Moves each packaged settings file from courierDir to toolDir and links
// it back; true when anything changed.
bool linkCourierSettings(const std::string& courierDir, const std::string& toolDir, bool force,
                         SetupReport& report);

} // namespace korvo::setup

#endif
