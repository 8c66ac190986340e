#include "mail/settings/DomainKeys.h"

#include "mail/PathComponent.h"
#include "utils/Accounts.h"
#include "utils/FileUtils.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"
#include "utils/StringUtils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace {

constexpr std::size_t pathMax = 4096;
const char* const keyName = "default";

// The directory and key file of domain; false after a message.
bool keyPaths(const char* domain, std::string* dir, std::string* file) {
    const korvo::MallocString lower(strtolower_dynamic(domain));
    if (lower == nullptr) {
        errno = 0;
        messlog2(0, 0, "cannot convert %s to lower case", domain);
        return false;
    }
    if (!is_path_component(lower.get())) {
        errno = 0;
        messlog2(0, 0, "Domain name '%s' cannot name a directory in %s", domain,
                 KORVO_DOMAINKEYS_D);
        return false;
    }
    *dir = std::string(KORVO_DOMAINKEYS_D "/") + lower.get();
    if (dir->size() >= pathMax) {
        errno = 0;
        messlog2(0, 0, "Domain name '%s' is too long to be stored in %s", lower.get(),
                 KORVO_DOMAINKEYS_D);
        return false;
    }
    *file = *dir + "/" + keyName;
    if (file->size() >= pathMax) {
        errno = 0;
        messlog2(0, 0, "File name '%s' is too long to be stored in %s/%s", keyName,
                 KORVO_DOMAINKEYS_D, lower.get());
        return false;
    }
    return true;
}

// Calls action with the directory and key file of every non-empty domain of
// the list; -1 when the list cannot be split or a domain was refused.
int forEachDomain(const char* domains,
                  const std::function<void(const std::string&, const std::string&)>& action) {
    const korvo::StringListOwner list(string_split(domains != nullptr ? domains : "", ","));
    if (list.get() == nullptr) {
        errno = 0;
        messlog2(0, 0, "cannot split domains list '%s'\n", domains != nullptr ? domains : "");
        return -1;
    }
    int result = 0;
    for (char** domain = list.get(); *domain != nullptr; ++domain) {
        if (**domain == '\0')
            continue;
        std::string dir;
        std::string file;
        if (keyPaths(*domain, &dir, &file))
            action(dir, file);
        else
            result = -1;
    }
    return result;
}

} // namespace

int set_domain_key(const char* domains, const char* keyFile) {
    struct stat st {};
    if (keyFile == nullptr || ::stat(keyFile, &st) != 0) {
        messlog2(0, 0, "No source file '%s': %s", keyFile != nullptr ? keyFile : "(null)",
                 std::strerror(keyFile != nullptr ? errno : EINVAL));
        return -1;
    }
    gid_t mailGroup = 0;
    if (korvo_getpw("popuser", nullptr, &mailGroup, nullptr) != 0)
        return -1;
    return forEachDomain(domains, [&](const std::string& dir, const std::string& file) {
        make_dir_rec(dir.c_str(), 0, 0, 0755);
        copy_file_atomic(keyFile, file.c_str(), 0, mailGroup, 0440);
    });
}

int remove_domain_key(const char* domains) {
    return forEachDomain(
        domains, [](const std::string& dir, const std::string&) { rm_tree(dir.c_str(), 1); });
}

char* get_domainkeys_file(const char* domain) {
    if (domain == nullptr || *domain == '\0')
        return nullptr;
    std::string dir;
    std::string file;
    if (!keyPaths(domain, &dir, &file))
        return nullptr;
    return asprintf_safe("%s", file.c_str());
}

int domainkeys_enabled(const char* domain) {
    const korvo::MallocString file(get_domainkeys_file(domain));
    struct stat st {};
    return file != nullptr && ::stat(file.get(), &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
}

int clone_domain_key(const char* sourceDomain, const char* targetDomains) {
    const korvo::MallocString file(get_domainkeys_file(sourceDomain));
    if (file == nullptr) {
        errno = 0;
        messlog2(0, 0, "Cannot get domainkeys key file for %s",
                 sourceDomain != nullptr ? sourceDomain : "(null)");
        return -1;
    }
    if (!domainkeys_enabled(sourceDomain))
        return 0;
    return set_domain_key(targetDomains, file.get());
}
