// An output file stream whose file never outlives it.
//
// AutocleanOFStream(name) opens name for writing, truncating it; the
// destructor deletes the file and then closes the stream, whatever happened
// in between, keeping errno and ignoring a failed delete. It holds scratch
// data (the dump a lookup table is rebuilt from) that must not stay on disk
// after the operation, successful or not. Open and write errors are reported
// the std::ofstream way: set exceptions() to have them thrown.
#ifndef KORVO_PROCESS_AUTOCLEANOFSTREAM_H
#define KORVO_PROCESS_AUTOCLEANOFSTREAM_H

#include <fstream>
#include <string>

namespace korvo {

class AutocleanOFStream : public std::ofstream {
public:
    explicit AutocleanOFStream(const std::string& name);
    ~AutocleanOFStream() override;

    AutocleanOFStream(const AutocleanOFStream&) = delete;
    AutocleanOFStream& operator=(const AutocleanOFStream&) = delete;

    const std::string& fileName() const { return fileName_; }

private:
    std::string fileName_;
};

} // namespace korvo

#endif
