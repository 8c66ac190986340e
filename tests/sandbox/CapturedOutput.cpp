#include "sandbox/CapturedOutput.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <system_error>

namespace korvo::test {

namespace {

void flushAll() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
}

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

CapturedOutput::CapturedOutput(int fd) : fd_(fd) {
    flushAll();
    file_ = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file_ < 0)
        fail("unnamed file in /tmp for captured output");
    saved_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 3);
    if (saved_ < 0 || ::dup2(file_, fd_) < 0) {
        const int error = errno;
        ::close(file_);
        if (saved_ >= 0)
            ::close(saved_);
        errno = error;
        fail("redirect of a standard descriptor");
    }
}

CapturedOutput::~CapturedOutput() {
    restore();
}

void CapturedOutput::restore() {
    if (saved_ < 0)
        return;
    flushAll();
    ::dup2(saved_, fd_);
    ::close(saved_);
    saved_ = -1;
    char buffer[4096];
    ssize_t got;
    off_t offset = 0;
    while ((got = ::pread(file_, buffer, sizeof buffer, offset)) > 0) {
        text_.append(buffer, static_cast<std::size_t>(got));
        offset += got;
    }
    ::close(file_);
}

std::string CapturedOutput::text() {
    restore();
    return text_;
}

} // namespace korvo::test
