#include "postfix/tables/TableRebuild.h"

#include "postfix/tables/Tables.h"
#include "utils/Exceptions.h"
#include "utils/ReplaceFile.h"

#include <cerrno>
#include <fcntl.h>
#include <ios>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace korvo::mail::postfix {

namespace {

constexpr char TEMPORARY_SUFFIX[] = ".tmp";
constexpr std::size_t BUFFER_SIZE = 65536;

// The file postmap builds for a table of this type from source path P:
// P.cdb, P.lmdb, or P.db for the Berkeley DB types.
std::string indexSuffix(const std::string& table) {
    const std::string type = table.substr(0, table.find(':'));
    if (type == "cdb") {
        return ".cdb";
    }
    if (type == "lmdb") {
        return ".lmdb";
    }
    return ".db";
}

std::string temporaryTableName(const std::string& table, const std::string& temporarySource) {
    const std::string::size_type colon = table.find(':');
    return colon == std::string::npos ? temporarySource
                                      : table.substr(0, colon + 1) + temporarySource;
}

[[noreturn]] void throwSourceFailure(const std::string& operation, const std::string& path,
                                     int code) {
    throw std::ios_base::failure(operation + " " + path,
                                 std::error_code(code, std::system_category()));
}

std::string scratchName(const std::string& index) {
    const std::string::size_type slash = index.rfind('/');
    return index.substr(0, slash + 1) + "__db." + index.substr(slash + 1);
}

void removeQuietly(const std::string& path) {
    ::unlink(path.c_str());
}

} // namespace

TableRebuild::Temporaries::Temporaries(const std::string& table)
    : source(tables::sourcePath(table) + TEMPORARY_SUFFIX), index(source + indexSuffix(table)),
      scratch(scratchName(index)) {
    // Left by a rebuild that was killed: the table's lock says it is dead.
    for (const std::string* path : {&source, &index, &scratch}) {
        if (::unlink(path->c_str()) != 0 && errno != ENOENT) {
            throwSystemError("unlink " + *path);
        }
    }
}

TableRebuild::Temporaries::~Temporaries() {
    removeQuietly(source);
    removeQuietly(index);
    removeQuietly(scratch);
}

TableRebuild::TableRebuild(const std::string& table)
    : temporaries_(table), index_(tables::sourcePath(table) + indexSuffix(table)),
      temporaryTable_(temporaryTableName(table, temporaries_.source)), stream_(nullptr) {
    int fd;
    do {
        fd = ::open(temporaries_.source.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throwSourceFailure("create", temporaries_.source, errno);
    }
    sourceFd_.seize(fd);
    // postmap builds as the owner of its source: keep that the tool's user
    // even in a directory whose group is inherited.
    if (::fchown(fd, ::geteuid(), ::getegid()) != 0) {
        throwSourceFailure("fchown", temporaries_.source, errno);
    }
    buffer_ = std::make_unique<SourceBuffer>(fd, temporaries_.source);
    stream_.rdbuf(buffer_.get());
    stream_.exceptions(std::ios_base::badbit | std::ios_base::failbit);
}

TableRebuild::~TableRebuild() = default;

void TableRebuild::closeSource() {
    stream_.flush();
    sourceFd_.close();
}

void TableRebuild::install() {
    FdOwner built(::open(temporaries_.index.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (built.get() < 0) {
        throwSystemError("open " + temporaries_.index);
    }
    struct stat old {};
    if (::lstat(index_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        if (::fchown(built.get(), old.st_uid, old.st_gid) != 0) {
            throwSystemError("fchown " + temporaries_.index);
        }
        if (::fchmod(built.get(), old.st_mode & 07777) != 0) {
            throwSystemError("fchmod " + temporaries_.index);
        }
    }
    if (::fsync(built.get()) != 0) {
        throwSystemError("fsync " + temporaries_.index);
    }
    if (::rename(temporaries_.index.c_str(), index_.c_str()) != 0) {
        throwSystemError("rename " + temporaries_.index + " to " + index_);
    }
    syncParentDirectory(index_);
}

TableRebuild::SourceBuffer::SourceBuffer(int fd, const std::string& path)
    : fd_(fd), path_(path), buffer_(std::make_unique<char[]>(BUFFER_SIZE)) {
    setp(buffer_.get(), buffer_.get() + BUFFER_SIZE);
}

void TableRebuild::SourceBuffer::writeOut() {
    const char* data = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            throwSourceFailure("write", path_, errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    setp(buffer_.get(), buffer_.get() + BUFFER_SIZE);
}

TableRebuild::SourceBuffer::int_type TableRebuild::SourceBuffer::overflow(int_type c) {
    writeOut();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int TableRebuild::SourceBuffer::sync() {
    writeOut();
    return 0;
}

} // namespace korvo::mail::postfix
