#include "utils/Locks.h"

#include "utils/Logging.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The lock file is never followed through a link nor truncated: with
// LOCK_FILE_ITSELF it is the protected file, and a link planted at its name
// must not make root open (or empty) another file.
int openLockFile(const char* path) {
    int fd;
    do
        fd = ::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    // Descriptor 0 would read as "busy": move the lock file above it.
    if (fd == 0) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        const int saved = errno;
        ::close(fd);
        errno = saved;
        fd = moved;
    }
    return fd;
}

// The lock directory lives on a tmpfs emptied at boot; the boot-time entry
// recreates it, and so does the first lock taken without it.
bool createLockDirectory() {
    if (::mkdir(KORVO_LOCK_FILES_DIR, 0755) == 0 || errno == EEXIST)
        return true;
    const int saved = errno;
    korvo_log(LOG_LEVEL_ERROR, "Unable to create directory \"%s\": %s.", KORVO_LOCK_FILES_DIR,
              std::strerror(saved));
    errno = saved;
    return false;
}

int flockRetrying(int fd, int operation) {
    int rc;
    do
        rc = ::flock(fd, operation);
    while (rc < 0 && errno == EINTR);
    return rc;
}

void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

lock_struct_t* takeLock(const char* path, int hashed, bool wait) {
    auto* lock = static_cast<lock_struct_t*>(std::calloc(1, sizeof(lock_struct_t)));
    if (lock == nullptr)
        return nullptr;
    lock->path = hashed ? strdup(mk_flock_path(path).c_str()) : strdup(path);
    if (lock->path == nullptr) {
        std::free(lock);
        return nullptr;
    }
    lock->fd = openLockFile(lock->path);
    if (lock->fd < 0 && errno == ENOENT && hashed && createLockDirectory())
        lock->fd = openLockFile(lock->path);
    if (lock->fd < 0) {
        const int saved = errno;
        korvo_log(LOG_LEVEL_ERROR, "Unable to open file \"%s\": %s.", lock->path,
                  std::strerror(saved));
        errno = saved;
        lock->fd = -1;
        return lock;
    }
    if (flockRetrying(lock->fd, LOCK_EX | (wait ? 0 : LOCK_NB)) < 0) {
        const bool busy = errno == EWOULDBLOCK;
        closeKeepingErrno(lock->fd);
        lock->fd = busy ? 0 : -1;
    }
    return lock;
}

} // namespace

lock_struct_t* mk_lock(const char* path, int hashed) {
    return takeLock(path, hashed, true);
}

lock_struct_t* mk_nonblock_lock(const char* path, int hashed) {
    return takeLock(path, hashed, false);
}

bool is_locked(const lock_struct_t* lock) {
    return lock != nullptr && lock->fd > 0;
}

int rm_lock(lock_struct_t* lock) {
    if (lock == nullptr)
        return -1;
    int result = 0;
    if (lock->fd > 0 && ::close(lock->fd) != 0) {
        const int saved = errno;
        korvo_log(LOG_LEVEL_ERROR, "An error occured during closing '%s' file: %s\n", lock->path,
                  std::strerror(saved));
        errno = saved;
        result = -1;
    }
    std::free(lock->path);
    std::free(lock);
    return result;
}

int free_lock(lock_struct_t* lock) {
    return rm_lock(lock);
}

std::string mk_flock_path(const char* path) {
    char digest[33];
    return std::string(KORVO_LOCK_FILES_DIR "/") + get_md5sum(nullptr, path, digest);
}

char* get_md5sum(const char* prefix, const char* data, char* out) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool ok =
        context != nullptr && EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1 &&
        (prefix == nullptr || EVP_DigestUpdate(context, prefix, std::strlen(prefix)) == 1) &&
        (data == nullptr || EVP_DigestUpdate(context, data, std::strlen(data)) == 1) &&
        EVP_DigestFinal_ex(context, md, &length) == 1;
    EVP_MD_CTX_free(context);
    // Without a digest the name stays empty, so that no lock file is shared
    // by accident: opening the bare directory as a lock file then fails.
    out[0] = '\0';
    if (!ok)
        return out;
    static const char hex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < length; ++i) {
        out[2 * i] = hex[md[i] >> 4];
        out[2 * i + 1] = hex[md[i] & 0x0f];
    }
    out[2 * length] = '\0';
    return out;
}
