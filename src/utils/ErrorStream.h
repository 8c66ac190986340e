// korvo::uerr, the error stream of the whole tool.
//
// Every character written to it goes to standard error at once; at each
// flush (std::endl, std::flush) the line collected since the previous flush is
// written to standard output as well. The panel that runs vornctl may read
// either stream, and both see every message. The stream is flushed once more
// when it is destroyed at exit, so an unfinished last line is not lost.
//
// Single-threaded use only: the collected line is not locked.
#ifndef KORVO_UTILS_ERRORSTREAM_H
#define KORVO_UTILS_ERRORSTREAM_H

#include <ostream>
#include <streambuf>
#include <string>

namespace korvo {

class UtilityErrorStreamBuf : public std::streambuf {
protected:
    int_type overflow(int_type ch) override;
    int sync() override;

private:
    std::string collected_;
};

class UtilityErrorStream : public std::ostream {
public:
    UtilityErrorStream();
    ~UtilityErrorStream() override;
    UtilityErrorStream(const UtilityErrorStream&) = delete;
    UtilityErrorStream& operator=(const UtilityErrorStream&) = delete;

private:
    UtilityErrorStreamBuf buf_;
};

extern UtilityErrorStream uerr;

} // namespace korvo

#endif
