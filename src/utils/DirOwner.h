// Ownership of one open directory stream (DIR*).
//
// A DirOwner closes its stream exactly once, in close() or the destructor;
// the destructor never throws and keeps errno. Taking over a descriptor
// (fromDescriptor) hands that descriptor to the stream: it is closed with
// it, also when fdopendir fails. get() is null when nothing is open.
//
// Use: DirOwner dir(::opendir("/proc")); while (dirent* e = ::readdir(dir.get())) ...
#ifndef KORVO_UTILS_DIROWNER_H
#define KORVO_UTILS_DIROWNER_H

#include <dirent.h>

namespace korvo {

class DirOwner {
public:
    explicit DirOwner(DIR* dir) : dir_(dir) {}
    DirOwner(const DirOwner&) = delete;
    DirOwner& operator=(const DirOwner&) = delete;
    ~DirOwner();

    // A stream over the directory open as fd, which it takes over.
    static DirOwner fromDescriptor(int fd);

    DIR* get() const { return dir_; }
    int fd() const { return ::dirfd(dir_); }
    // closedir's result; 0 when nothing was open.
    int close();

private:
    DIR* dir_;
};

} // namespace korvo

#endif
