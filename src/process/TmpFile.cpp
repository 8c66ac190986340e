#include "process/TmpFile.h"

#include "utils/Exceptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace korvo {

namespace {

constexpr std::size_t bufferSize = 2048;

// Runs mkstemp on name (which ends in "XXXXXX") and returns the descriptor.
int makeTemporary(std::string& name) {
    const int fd = ::mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0)
        throwSystemError("mkstemp() failed: ", errno);
    return fd;
}

} // namespace

TmpFileBase::TmpFileBase(const std::string& prefix)
    : fileName_(prefix + "XXXXXX"), buffer_(makeTemporary(fileName_), std::ios::out, bufferSize) {}

TmpFile::TmpFile(const std::string& prefix, bool autoclean)
    : TmpFileBase(prefix), std::ostream(&buffer_), autoclean_(autoclean) {}

TmpFile::~TmpFile() {
    if (autoclean_ && ::unlink(fileName_.c_str()) != 0)
        std::cerr << "TmpFile autoclean failed: " << std::strerror(errno) << '\n';
}

void TmpFile::close() {
    if (!buffer_.is_open())
        return;
    flush();
    if (buffer_.close() == nullptr)
        setstate(std::ios::failbit);
}

} // namespace korvo
