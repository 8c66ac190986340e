// What the code under test writes to standard output or standard error.
//
// The tool reports through both the C streams and the C++ ones (the error
// stream, korvo_log), and the panel reads what reaches the descriptors. A
// CapturedOutput points descriptor 1 or 2 at an unnamed file for its
// lifetime, flushing every stream first, and text() puts the descriptor
// back and returns all that was written meanwhile. A failure to redirect
// throws std::system_error; the destructor restores the descriptor and
// never throws.
#ifndef KORVO_TESTS_SANDBOX_CAPTUREDOUTPUT_H
#define KORVO_TESTS_SANDBOX_CAPTUREDOUTPUT_H

#include <string>
#include <unistd.h>

namespace korvo::test {

class CapturedOutput {
public:
    explicit CapturedOutput(int fd);
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    // Ends the capture (once) and returns everything written during it.
    std::string text();

private:
    void restore();

    const int fd_;
    int saved_ = -1;
    int file_ = -1;
    std::string text_;
};

// The usual two: everything printed on stdout, or on stderr.
struct CapturedStdout : CapturedOutput {
    CapturedStdout() : CapturedOutput(STDOUT_FILENO) {}
};
struct CapturedStderr : CapturedOutput {
    CapturedStderr() : CapturedOutput(STDERR_FILENO) {}
};

} // namespace korvo::test

#endif
