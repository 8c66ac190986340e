#include "utils/FileCopy.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {

namespace {

constexpr std::size_t KERNEL_COPY_CHUNK = 1 << 20;

// One step of an in-kernel copy: bytes moved, 0 at the end, -1 with errno.
using KernelCopy = ssize_t (*)(int input, int output);

ssize_t sendFile(int input, int output) {
    return ::sendfile(output, input, nullptr, KERNEL_COPY_CHUNK);
}

ssize_t splicePipe(int input, int output) {
    return ::splice(input, nullptr, output, nullptr, KERNEL_COPY_CHUNK, SPLICE_F_MOVE);
}

bool copyThroughBuffer(int input, int output, off_t* copied) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(input, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(output, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return false;
            done += put;
        }
        if (copied != nullptr)
            *copied += got;
    }
}

} // namespace

bool copyAll(int input, int output, off_t* copied) {
    struct stat st {};
    const KernelCopy kernelCopy = ::fstat(input, &st) != 0 ? nullptr
                                  : S_ISREG(st.st_mode)    ? sendFile
                                  : S_ISFIFO(st.st_mode)   ? splicePipe
                                                           : nullptr;
    bool started = false;
    while (kernelCopy != nullptr) {
        const ssize_t moved = kernelCopy(input, output);
        if (moved == 0)
            return true;
        if (moved < 0 && errno == EINTR)
            continue;
        // A pair of files the kernel cannot copy between: the plain way.
        if (moved < 0 && !started && (errno == EINVAL || errno == ENOSYS))
            break;
        if (moved < 0)
            return false;
        started = true;
        if (copied != nullptr)
            *copied += moved;
    }
    return copyThroughBuffer(input, output, copied);
}

bool readAll(int input, std::string& text, std::size_t limit) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(input, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        if (static_cast<std::size_t>(got) > limit - std::min(limit, text.size())) {
            errno = EFBIG;
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

} // namespace korvo
