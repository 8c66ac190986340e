// A temporary file beside the file it is meant to replace.
//
// TmpFile(prefix) creates a fresh file named prefix followed by six random
// characters (mkstemp, mode 0600) and is an output stream on it; with the
// target's own path as prefix the file lies in the target's directory, so a
// rename moves it over the target atomically. While autoclean is on, the
// destructor deletes the file, also when an exception unwinds the owner; a
// failing delete is reported on std::cerr, never thrown.
//
// The safe update of a shared file is: take an MKLock on the target, write a
// TmpFile for it (enable exceptions on the stream to have write errors
// thrown), set its mode, turn autoclean off, close() it, rename it over the
// target, release the lock. A failed mkstemp throws korvo::SystemError.
#ifndef KORVO_PROCESS_TMPFILE_H
#define KORVO_PROCESS_TMPFILE_H

#include <ext/stdio_filebuf.h>
#include <ostream>
#include <string>

namespace korvo {

// The file and the stream buffer over its descriptor; the buffer closes the
// descriptor when it is destroyed.
class TmpFileBase {
protected:
    explicit TmpFileBase(const std::string& prefix);

    std::string fileName_;
    __gnu_cxx::stdio_filebuf<char> buffer_;
};

class TmpFile : protected TmpFileBase, public std::ostream {
public:
    explicit TmpFile(const std::string& prefix, bool autoclean = true);
    ~TmpFile() override;

    TmpFile(const TmpFile&) = delete;
    TmpFile& operator=(const TmpFile&) = delete;

    const std::string& fileName() const { return fileName_; }
    bool autoclean() const { return autoclean_; }
    void setAutoclean(bool autoclean) { autoclean_ = autoclean; }

    // Flushes and closes the file; a failure sets failbit (and throws when
    // the owner enabled exceptions for it).
    void close();

private:
    bool autoclean_;
};

} // namespace korvo

#endif
