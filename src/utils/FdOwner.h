// Ownership of one file descriptor.
//
// An FdOwner either owns its descriptor (closes it exactly once: through
// close(), seize() or the destructor) or merely uses a borrowed one that
// somebody else closes. get() is what readers, writers and launchers use in
// both cases. close() reports a failed close(2) as korvo::SystemError
// "close"; the destructor does the same unless an exception is already
// propagating, in which case it closes silently and keeps errno.
//
// Use: FdOwner fd(::open(...)); ... ::read(fd.get(), ...); fd.close();
#ifndef KORVO_UTILS_FDOWNER_H
#define KORVO_UTILS_FDOWNER_H

namespace korvo {

class FdOwner {
public:
    FdOwner() = default;
    // Takes ownership of fd (-1: nothing).
    explicit FdOwner(int fd) : owned(fd), inUse(fd) {}
    FdOwner(const FdOwner&) = delete;
    FdOwner& operator=(const FdOwner&) = delete;
    ~FdOwner() noexcept(false);

    // The descriptor to read, write or pass on; -1 when there is none.
    int get() const { return inUse; }
    bool owns() const { return owned >= 0; }

    // Closes the owned descriptor (retrying on EINTR) and forgets both.
    void close();
    // The same without raising; returns close(2)'s result (0 when nothing
    // was owned).
    int close_nothrow();
    // Closes what is owned, then owns fd.
    void seize(int fd);
    // Closes what is owned, then uses fd without ever closing it.
    void borrow(int fd);
    // Gives up ownership without closing; returns the descriptor.
    int release();

private:
    int owned = -1;
    int inUse = -1;
};

} // namespace korvo

#endif
