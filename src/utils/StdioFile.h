// Reading a C stream line by line with every resource given back: the
// stream (closed on every path; a stream only read has nothing a failed
// close could lose) and getline's buffer (grown by getline, freed at the
// end of its scope). Read errors are the caller's to report, from errno.
#ifndef KORVO_UTILS_STDIOFILE_H
#define KORVO_UTILS_STDIOFILE_H

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/types.h>

namespace korvo {

struct StdioCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using StdioFile = std::unique_ptr<std::FILE, StdioCloser>;

class LineBuffer {
public:
    LineBuffer() = default;
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;
    ~LineBuffer() { std::free(text_); }

    // The next line of file, its newline kept; -1 at the end or on error.
    ssize_t read(std::FILE* file) { return ::getline(&text_, &capacity_, file); }
    char* text() const { return text_; }

private:
    char* text_ = nullptr;
    std::size_t capacity_ = 0;
};

} // namespace korvo

#endif
