#include "mail/storage/Attachments.h"

#include "mail/PathComponent.h"
#include "mail/storage/MailPaths.h"
#include "mail/storage/NoFollowFs.h"
#include "process/MKLock.h"
#include "utils/Exceptions.h"
#include "utils/FdOwner.h"
#include "utils/Logging.h"
#include "utils/ReplaceFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using korvo::FdOwner;
using namespace korvo::mail;

namespace {

const char storeName[] = "@attachments";
// Beside the target while it is written; removed on failure.
const char newSuffix[] = ".korvo-new";
constexpr mode_t attachmentMode = 0644;

// The store of mailname in the ASCII domain; "" after a message when the
// names do not make one.
std::string storePath(const std::string& domain, const char* mailname) {
    errno = 0;
    if (!is_path_component(domain.c_str()) || !is_path_component(mailname)) {
        messlog2(0, 0, "Invalid mail name '%s' or domain '%s'", mailname, domain.c_str());
        return "";
    }
    const std::string path = mailHomePath(domain, mailname) + "/" + storeName;
    if (path.size() >= maxMailPath) {
        messlog2(0, 0, "Path of the attachments of %s@%s is too long", mailname, domain.c_str());
        return "";
    }
    return path;
}

bool validName(const char* name) {
    if (is_path_component(name))
        return true;
    errno = 0;
    messlog2(0, 0, "Invalid attachment name '%s': it must be a single file name", name);
    return false;
}

// The path of the store's entry name through the store's open descriptor,
// so that it names the directory opened, whatever is put at the store's
// name meanwhile.
std::string pinnedPath(int storeFd, const char* name) {
    return "/proc/self/fd/" + std::to_string(storeFd) + "/" + name;
}

// Writes source's content into name of the store open as storeFd, through a
// new file renamed over it. Throws korvo::SystemError.
void copyInto(int storeFd, const char* source, const char* name) {
    const FdOwner in(::open(source, O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        korvo::throwSystemError(std::string("open ") + source);
    korvo::ReplaceOptions options;
    options.mode = attachmentMode;
    options.tmpSuffix = newSuffix;
    korvo::ReplaceFile out(pinnedPath(storeFd, name), options);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            korvo::throwSystemError(std::string("read ") + source);
        if (n == 0)
            break;
        out.write(buffer, static_cast<std::size_t>(n));
    }
    out.commit();
}

// Prints the entries of the store open as storeFd.
int listStore(int storeFd, const std::string& store, int blocks, int fullPath) {
    DirectoryListing listing(storeFd);
    if (!listing.isOpen()) {
        messlog2(0, 0, "Unable to open dir %s: %s\n", store.c_str(), std::strerror(errno));
        return -1;
    }
    while (const dirent* entry = listing.next()) {
        const std::string path = store + "/" + entry->d_name;
        struct stat st {};
        if (::fstatat(listing.fd(), entry->d_name, &st, 0) != 0) {
            messlog2(0, 0, "stat %s failed: %s", path.c_str(), std::strerror(errno));
            return -1;
        }
        if (S_ISDIR(st.st_mode))
            continue;
        const long long size = blocks ? static_cast<long long>(st.st_blocks) * 512
                                      : static_cast<long long>(st.st_size);
        std::printf("%s\t%lld\n", fullPath ? path.c_str() : entry->d_name, size);
    }
    const int readError = errno;
    std::fflush(stdout);
    errno = readError;
    if (errno != 0 || !listing.close()) {
        messlog2(0, 0, "Unable to close dir: %s\n", std::strerror(errno));
        return -1;
    }
    return 0;
}

} // namespace

int add_attachment(const char* mailname, const char* domain, const char* sourceFile,
                   const char* name) {
    const std::string store = storePath(asciiDomain(domain, false, 1), mailname);
    if (store.empty() || !validName(name))
        return -1;
    const std::string target = store + "/" + name;
    if (target == sourceFile)
        return 0;
    try {
        const FdOwner storeFd = openDirectoryOrThrow(AT_FDCWD, store, store);
        const korvo::MKLock lock(target);
        copyInto(storeFd.get(), sourceFile, name);
    } catch (const std::exception& e) {
        korvo_log(LOG_LEVEL_ERROR, "%s", e.what());
        errno = 0;
        messlog2(0, 0, "Unable to copy the attachment file %s to %s\n", sourceFile, target.c_str());
        return -1;
    }
    return 0;
}

int remove_attachment(const char* mailname, const char* domain, const char* name) {
    const std::string store = storePath(asciiDomain(domain, false, 1), mailname);
    if (store.empty() || !validName(name))
        return -1;
    const std::string target = store + "/" + name;
    const FdOwner storeFd(openDirectoryAt(AT_FDCWD, store.c_str()));
    if (storeFd.get() < 0 && errno == ENOENT)
        return 0;
    if (storeFd.get() < 0 || (::unlinkat(storeFd.get(), name, 0) != 0 && errno != ENOENT)) {
        messlog2(0, 0, "Unable to delete the attachment file %s: %s\n", target.c_str(),
                 std::strerror(errno));
        return -1;
    }
    return 0;
}

int list_attachments(const char* mailname, const char* domain, int blocks, int fullPath) {
    const std::string ascii = asciiDomain(domain, false, 1);
    if (*mailname == '\0') {
        errno = 0;
        messlog2(1, 0, "MailName empty for domain '%s'", ascii.c_str());
    }
    const std::string store = storePath(ascii, mailname);
    if (store.empty())
        return -1;
    return listStore(openDirectoryAt(AT_FDCWD, store.c_str()), store, blocks, fullPath);
}

int list_all_attachments(const char* domain, int blocks, int fullPath) {
    const std::string ascii = asciiDomain(domain, false, 1);
    const std::string root = mailnamesRoot() + "/" + ascii;
    DirectoryListing listing(is_path_component(ascii.c_str())
                                 ? openDirectoryAt(AT_FDCWD, root.c_str())
                                 : (errno = EINVAL, -1));
    if (!listing.isOpen()) {
        messlog2(0, 0, "Unable to open dir %s: %s\n", root.c_str(), std::strerror(errno));
        return -1;
    }
    while (const dirent* entry = listing.next()) {
        struct stat st {};
        if (::fstatat(listing.fd(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode))
            list_attachments(entry->d_name, ascii.c_str(), blocks, fullPath);
    }
    if (errno != 0 || !listing.close()) {
        messlog2(0, 0, "Unable to close dir: %s\n", std::strerror(errno));
        return -1;
    }
    return 0;
}
