#include "utils/Exceptions.h"

#include "utils/Idn.h"

#include <cerrno>
#include <cstring>

namespace korvo {

SystemError::SystemError(const std::string& message, int code)
    : std::runtime_error(message), code_(code != 0 ? code : errno) {}

const char* SystemError::what() const noexcept {
    if (text_.empty()) {
        const std::string message = std::runtime_error::what();
        text_ = message.empty() ? std::strerror(code_) : message + ": " + std::strerror(code_);
    }
    return text_.c_str();
}

void throwSystemError(const std::string& message, int code) {
    const int effective = code != 0 ? code : errno;
    switch (effective) {
    case EPERM:
        throw ExSystemError<EPERM>(message);
    case ENOENT:
        throw ExSystemError<ENOENT>(message);
    case EINTR:
        throw ExSystemError<EINTR>(message);
    case ECHILD:
        throw ExSystemError<ECHILD>(message);
    case EAGAIN:
        throw ExSystemError<EAGAIN>(message);
    default:
        throw SystemError(message, effective);
    }
}

namespace idn {
const char* IdnaError::what() const noexcept {
    return idn_strerror(rc_);
}
} // namespace idn

} // namespace korvo
