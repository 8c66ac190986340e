#include "process/AutocleanOFStream.h"

#include <cerrno>
#include <unistd.h>

namespace korvo {

AutocleanOFStream::AutocleanOFStream(const std::string& name)
    : std::ofstream(name, std::ios::out | std::ios::trunc), fileName_(name) {}

AutocleanOFStream::~AutocleanOFStream() {
    const int saved = errno;
    ::unlink(fileName_.c_str());
    errno = saved;
}

} // namespace korvo
