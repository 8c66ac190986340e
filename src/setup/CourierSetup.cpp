#include "setup/CourierSetup.h"

#include "setup/FileSetup.h"
#include "utils/Exceptions.h"
#include "utils/ReplaceFile.h"

#include <algorithm>
#include <array>
#include <boost/algorithm/string.hpp>
#include <cerrno>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::setup {

namespace {

// The settings files the tool writes and Courier IMAP and POP3 read.
const std::array<const char*, 4> settingsFiles = {"imapd", "imapd-ssl", "pop3d", "pop3d-ssl"};

std::optional<struct stat> lstatOrNothing(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0)
        return st;
    if (errno != ENOENT)
        throwSystemError("lstat " + path);
    return std::nullopt;
}

std::string linkTarget(const std::string& path) {
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0)
        throwSystemError("readlink " + path);
    target.resize(static_cast<std::size_t>(length));
    return target;
}

// The name and the value of an active line ("NAME=value", "NAME value");
// nothing for comments and blank lines.
std::optional<std::pair<std::string, std::string>> parseRcLine(const std::string& line,
                                                               RcSyntax syntax) {
    if (line.empty() || line[0] == '#')
        return std::nullopt;
    const std::size_t end =
        syntax == RcSyntax::Assignment ? line.find('=') : line.find_first_of(" \t");
    if (end == std::string::npos || end == 0)
        return std::nullopt;
    std::string value = boost::algorithm::trim_copy(line.substr(end + 1));
    if (syntax == RcSyntax::Assignment && value.size() >= 2 && value.front() == '"' &&
        value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::make_pair(line.substr(0, end), value);
}

std::string rcLine(const RcSetting& setting, RcSyntax syntax) {
    return syntax == RcSyntax::Assignment ? setting.name + "=\"" + setting.value + "\""
                                          : setting.name + "\t" + setting.value;
}

const RcSetting* findSetting(const std::vector<RcSetting>& settings, const std::string& name) {
    for (const RcSetting& setting : settings)
        if (setting.name == name)
            return &setting;
    return nullptr;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Which settings to write: those the file lacks or holds with a replaceable
// value, and, with force, those someone else set.
std::vector<std::string> settingsToWrite(const std::string& path, const std::string& text,
                                         RcSyntax syntax, const std::vector<RcSetting>& settings,
                                         bool force, SetupReport& report) {
    std::vector<std::string> names;
    for (const RcSetting& setting : settings) {
        std::optional<std::string> present;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            if (const auto parsed = parseRcLine(line, syntax);
                parsed && parsed->first == setting.name && !present)
                present = parsed->second;
        if (present == setting.value)
            continue;
        if (present && !contains(setting.replaceable, *present) && !force) {
            report.refused(path + ": " + setting.name + " is \"" + *present +
                           "\"; left as it is (--force sets \"" + setting.value + "\")");
            continue;
        }
        names.push_back(setting.name);
    }
    return names;
}

// Replaces packaged with a link to moved, through a temporary link renamed
// over it.
void linkInPlace(const std::string& packaged, const std::string& moved) {
    const std::string temporary = packaged + ".vornctl-link";
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT)
        throwSystemError("unlink " + temporary);
    if (::symlink(moved.c_str(), temporary.c_str()) != 0)
        throwSystemError("symlink " + temporary + " -> " + moved);
    if (::rename(temporary.c_str(), packaged.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throwSystemError("rename " + temporary + " to " + packaged, error);
    }
    syncParentDirectory(packaged);
}

bool linkSettingsFile(const std::string& packaged, const std::string& moved, bool force,
                      SetupReport& report) {
    const std::optional<struct stat> atPackaged = lstatOrNothing(packaged);
    if (!atPackaged)
        throw std::runtime_error(packaged + " is missing: install courier-imap and courier-pop");
    if (S_ISLNK(atPackaged->st_mode)) {
        if (linkTarget(packaged) == moved)
            return false;
        if (!force) {
            report.refused(packaged + " links to " + linkTarget(packaged) +
                           "; left as it is (--force links it to " + moved + ")");
            return false;
        }
    } else if (!S_ISREG(atPackaged->st_mode)) {
        throwSystemError(packaged + " is not a regular file", EINVAL);
    }
    const std::optional<struct stat> atMoved = lstatOrNothing(moved);
    if (atMoved && !S_ISREG(atMoved->st_mode))
        throwSystemError(moved + " is not a regular file", EINVAL);
    if (!atMoved) {
        ReplaceOptions options;
        options.uid = atPackaged->st_uid;
        options.gid = atPackaged->st_gid;
        options.mode = atPackaged->st_mode & 07777;
        replaceFileContent(moved, readWholeFile(packaged), options);
    } else if (S_ISREG(atPackaged->st_mode) && readWholeFile(moved) != readWholeFile(packaged) &&
               !force) {
        report.refused(packaged + " and " + moved +
                       " differ; both left as they are (--force makes " + packaged + " a link to " +
                       moved + ")");
        return false;
    }
    linkInPlace(packaged, moved);
    report.changed((atMoved ? "linked " : "moved " + packaged + " to " + moved + ", linked ") +
                   packaged + " -> " + moved);
    return true;
}

std::string sqlQuoted(const std::string& text) {
    return "'" + boost::algorithm::replace_all_copy(text, "'", "''") + "'";
}

// The authsqlite query with the mail home below homeDomain, the tables
// joined and the status terms added to the user's and domain's own.
std::string selectClause(const std::string& mailRoot, uid_t uid, gid_t gid,
                         const std::string& homeDomain, const std::string& joins,
                         const std::string& statusTerms) {
    const std::string home = sqlQuoted(mailRoot + "/") + " || " + homeDomain + " || '/' || u.name";
    return "SELECT u.name || '@' || d.name, u.cmusaslsecretPLAIN, u.userPassword, " +
           std::to_string(uid) + ", " + std::to_string(gid) + ", " + home + ", " + home +
           " || '/Maildir', '', '', '' FROM users u JOIN domains d ON d.id = u.dom_id" + joins +
           " WHERE u.name = '$(local_part)' COLLATE NOCASE AND d.name = '$(domain)' COLLATE "
           "NOCASE AND u.status = 0 AND d.status = 0" +
           statusTerms;
}

} // namespace

bool ensureRcSettings(const std::string& path, RcSyntax syntax,
                      const std::vector<RcSetting>& settings, bool force, SetupReport& report) {
    if (!pathExists(path))
        throw std::runtime_error(path + " is missing: install courier-authlib-sqlite");
    const std::string text = readWholeFile(path);
    const std::vector<std::string> names =
        settingsToWrite(path, text, syntax, settings, force, report);
    if (names.empty())
        return false;
    std::string result;
    std::vector<std::string> written;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto parsed = parseRcLine(line, syntax);
        if (!parsed || !contains(names, parsed->first)) {
            result += line + "\n";
        } else if (!contains(written, parsed->first)) {
            result += rcLine(*findSetting(settings, parsed->first), syntax) + "\n";
            written.push_back(parsed->first);
        }
    }
    for (const std::string& name : names)
        if (!contains(written, name))
            result += rcLine(*findSetting(settings, name), syntax) + "\n";
    ReplaceOptions options;
    options.keepTargetAttributes = true;
    options.resolveTargetLink = true;
    replaceFileContent(path, result, options);
    for (const std::string& name : names)
        report.changed(path + ": " + name + " = " + findSetting(settings, name)->value);
    return true;
}

std::string authSelectClause(const std::string& mailRoot, uid_t uid, gid_t gid) {
    return selectClause(mailRoot, uid, gid, "COALESCE(h.name, d.name)",
                        " LEFT JOIN domain_aliases l ON l.alias_id = d.id LEFT JOIN domains h ON "
                        "h.id = l.dom_id",
                        " AND COALESCE(h.status, 0) = 0");
}

std::string authSelectClauseWithoutAliases(const std::string& mailRoot, uid_t uid, gid_t gid) {
    return selectClause(mailRoot, uid, gid, "d.name", "", "");
}

bool ensureCourierAuth(const std::string& courierDir, const std::string& database,
                       const std::string& mailRoot, uid_t uid, gid_t gid, bool force,
                       SetupReport& report) {
    const bool daemon =
        ensureRcSettings(courierDir + "/authdaemonrc", RcSyntax::Assignment,
                         {{"authmodulelist", "authsqlite", {"authpam"}}}, force, report);
    // authsqlite refuses to start without the table and both password
    // columns, even though the query names them itself.
    const bool sqlite =
        ensureRcSettings(courierDir + "/authsqliterc", RcSyntax::Spaced,
                         {{"SQLITE_DATABASE", database, {"/var/lib/courier/users.db"}},
                          {"SQLITE_USER_TABLE", "users", {"passwd"}},
                          {"SQLITE_CRYPT_PWFIELD", "cmusaslsecretPLAIN", {"crypt"}},
                          {"SQLITE_CLEAR_PWFIELD", "userPassword", {"clear"}},
                          {"SQLITE_SELECT_CLAUSE",
                           authSelectClause(mailRoot, uid, gid),
                           {"", authSelectClauseWithoutAliases(mailRoot, uid, gid)}}},
                         force, report);
    return daemon || sqlite;
}

bool linkCourierSettings(const std::string& courierDir, const std::string& toolDir, bool force,
                         SetupReport& report) {
    ensureDirectory(toolDir, {0, 0, 0755}, force, report);
    bool changed = false;
    for (const char* file : settingsFiles)
        changed = linkSettingsFile(courierDir + "/" + file, toolDir + "/" + file, force, report) ||
                  changed;
    return changed;
}

} // namespace korvo::setup
