// The exception tree shared by every layer of vornctl.
//
// The class layer reports every failure by throwing one of these; the entry
// point turns whatever escapes into one "Fatal error: TYPE(TEXT)" line and
// exit status 1. System errors carry their errno so that callers can react
// to ENOENT, EAGAIN and friends by catching ExSystemError<N> by type instead
// of comparing codes.
#ifndef KORVO_UTILS_EXCEPTIONS_H
#define KORVO_UTILS_EXCEPTIONS_H

#include <boost/filesystem/exception.hpp>
#include <stdexcept>
#include <string>

namespace korvo {

// A failed system call: the message names the operation and usually the file,
// what() appends strerror(code). A code of 0 means "the current errno".
class SystemError : public std::runtime_error {
public:
    SystemError(const std::string& message, int code);
    const char* what() const noexcept override;
    int code() const noexcept { return code_; }

private:
    int code_;
    mutable std::string text_;
};

// One class per errno value that callers single out: EPERM, ENOENT, EINTR,
// ECHILD and EAGAIN. throwSystemError picks it; other codes stay SystemError.
template <int N> class ExSystemError : public SystemError {
    static_assert(N == 1 || N == 2 || N == 4 || N == 10 || N == 11,
                  "only EPERM, ENOENT, EINTR, ECHILD and EAGAIN have their own class");

public:
    explicit ExSystemError(const std::string& message) : SystemError(message, N) {}
};

// Throws the most specific system error for code (0 stands for errno).
[[noreturn]] void throwSystemError(const std::string& message, int code = 0);

// An operation this installation cannot perform.
class NotSupportedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace idn {
// A name that IDNA cannot convert; what() is idn_strerror of the libidn code.
class IdnaError : public std::exception {
public:
    explicit IdnaError(int rc) : rc_(rc) {}
    const char* what() const noexcept override;
    int code() const noexcept { return rc_; }

private:
    int rc_;
};
} // namespace idn

namespace mysql {
// A failure talking to the panel database; carries the server's message.
class mError : public std::exception {
public:
    explicit mError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};
} // namespace mysql

namespace mail {
// A failed operation on a mail home or another file tree.
class FSError : public boost::filesystem::filesystem_error {
public:
    using boost::filesystem::filesystem_error::filesystem_error;
};

namespace postfix {
// Base of the Postfix failures; never thrown itself.
class PostfixError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A lookup-table record could not be removed, or a batch could not be formed.
class PostfixDatabaseError : public PostfixError {
public:
    using PostfixError::PostfixError;
};

// postmap could not add, rebuild or dump a table, postconf failed, or
// master.cf could not be read or written.
class PostfixConfigurationError : public PostfixError {
public:
    using PostfixError::PostfixError;
};
} // namespace postfix
} // namespace mail
} // namespace korvo

#endif
