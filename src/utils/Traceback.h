// korvo::Traceback: a call stack captured where an exception is made.
//
// Meant to be mixed into exception classes; the reporters of the entry point
// print it after the "Fatal error" line whenever a caught exception also is a
// Traceback. Capturing never fails (an empty stack prints as addresses only).
// Symbol strings are resolved on the first print and owned by the object.
#ifndef KORVO_UTILS_TRACEBACK_H
#define KORVO_UTILS_TRACEBACK_H

#include <cstddef>
#include <cstdint>
#include <ostream>

namespace korvo {

class Traceback {
public:
    static constexpr std::size_t maxFrames = 11;

    explicit Traceback(std::size_t skip = 0);
    Traceback(const Traceback& other);
    Traceback& operator=(const Traceback&) = delete;
    virtual ~Traceback();

    friend std::ostream& operator<<(std::ostream& out, const Traceback& tb);

private:
    std::uint64_t frames_;
    std::uint64_t skip_;
    void* addresses_[maxFrames];
    mutable char** symbols_ = nullptr;
};

} // namespace korvo

#endif
