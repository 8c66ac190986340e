#include "setup/SaslSetup.h"

#include "setup/AccountSetup.h"
#include "setup/FileSetup.h"
#include "utils/Exceptions.h"
#include "utils/ReplaceFile.h"

#include <cerrno>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korvo::setup {

namespace {

const char USERMOD[] = "/usr/sbin/usermod";
const char OPENSSL[] = "/usr/bin/openssl";
const char MADE_CERT[] = "vornctl-smtpd.pem";
const char MADE_KEY[] = "vornctl-smtpd.key";

// A directory only root can enter, removed with what is left in it.
class PrivateDirectory {
public:
    explicit PrivateDirectory(const std::string& parent) {
        std::string pattern = parent + "/.vornctl-tls.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throwSystemError("mkdtemp " + pattern);
        path_ = pattern;
    }
    ~PrivateDirectory() {
        for (const char* name : {MADE_CERT, MADE_KEY})
            ::unlink((path_ + "/" + name).c_str());
        ::rmdir(path_.c_str());
    }
    PrivateDirectory(const PrivateDirectory&) = delete;
    PrivateDirectory& operator=(const PrivateDirectory&) = delete;

    std::string file(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

void renameInto(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        throwSystemError("rename " + from + " to " + to);
}

bool isMember(const std::string& user, const std::string& group) {
    const struct group* entry = ::getgrnam(group.c_str());
    if (entry == nullptr)
        throw std::runtime_error("group " + group + " not found: install courier-authlib");
    const struct passwd* account = ::getpwnam(user.c_str());
    if (account == nullptr)
        throw std::runtime_error("user " + user + " not found");
    if (account->pw_gid == entry->gr_gid)
        return true;
    for (char* const* member = entry->gr_mem; *member != nullptr; ++member)
        if (user == *member)
            return true;
    return false;
}

} // namespace

std::string saslConfig() {
    return std::string("pwcheck_method: authdaemond\nauthdaemond_path: ") + AUTHDAEMON_SOCKET +
           "\nmech_list: PLAIN LOGIN\n";
}

std::vector<std::string> saslConfigRefusals(const std::string& saslDir, bool force) {
    const std::string path = saslDir + "/smtpd.conf";
    if (force || !pathExists(path) || readWholeFile(path) == saslConfig())
        return {};
    return {path + " differs from what setup writes (--force replaces it)"};
}

bool ensureSaslConfig(const std::string& saslDir, bool force, SetupReport& report) {
    ensureDirectory(saslDir, {0, 0, 0755}, force, report);
    const std::string path = saslDir + "/smtpd.conf";
    const bool present = pathExists(path);
    if (present && readWholeFile(path) == saslConfig())
        return false;
    ReplaceOptions options;
    options.uid = 0;
    options.gid = 0;
    options.mode = 0644;
    replaceFileContent(path, saslConfig(), options);
    report.changed((present ? "replaced " : "wrote ") + path +
                   ": SMTP AUTH through Courier's authentication daemon");
    return true;
}

bool ensureGroupMember(const std::string& user, const std::string& group, SetupReport& report) {
    if (isMember(user, group))
        return false;
    runAccountProgram({USERMOD, "--append", "--groups", group, user});
    report.changed("added user " + user + " to group " + group);
    return true;
}

TlsFiles selfSignedFiles(const std::string& configDir) {
    return {configDir + "/" + MADE_CERT, configDir + "/" + MADE_KEY};
}

TlsFiles chooseTlsFiles(const TlsFiles& named, const TlsFiles& configured,
                        const std::string& configDir) {
    if (named.cert.empty() != named.key.empty())
        throw std::invalid_argument("--tls-cert and --tls-key go together");
    if (!named.cert.empty()) {
        for (const std::string& file : {named.cert, named.key})
            if (::access(file.c_str(), R_OK) != 0)
                throwSystemError("TLS file " + file);
        return named;
    }
    if (!configured.cert.empty() && ::access(configured.cert.c_str(), R_OK) == 0)
        return configured;
    return selfSignedFiles(configDir);
}

void ensureSelfSigned(const std::string& configDir, SetupReport& report) {
    const TlsFiles made = selfSignedFiles(configDir);
    if (pathExists(made.cert) && pathExists(made.key))
        return;
    const PrivateDirectory scratch(configDir);
    runAccountProgram({OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                       "-subj", "/CN=" + hostName(), "-keyout", scratch.file(MADE_KEY), "-out",
                       scratch.file(MADE_CERT)});
    if (::chmod(scratch.file(MADE_KEY).c_str(), 0600) != 0)
        throwSystemError("chmod " + scratch.file(MADE_KEY));
    if (::chmod(scratch.file(MADE_CERT).c_str(), 0644) != 0)
        throwSystemError("chmod " + scratch.file(MADE_CERT));
    // The key first: a certificate without its key is never left behind.
    renameInto(scratch.file(MADE_KEY), made.key);
    renameInto(scratch.file(MADE_CERT), made.cert);
    syncParentDirectory(made.cert);
    report.changed("made a self-signed certificate " + made.cert + " with key " + made.key);
}

} // namespace korvo::setup
