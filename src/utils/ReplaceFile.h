// Crash-safe replacement of a file's whole content.
//
// A ReplaceFile is the new content of one target file while it is being
// written: a temporary file beside the target (same directory, so the final
// rename is atomic). commit() flushes it to disk, renames it over the target
// and flushes the directory, so after a crash the target holds either the
// old or the new content, never an empty or partial file.
//
// The new content is written to an unnamed file in the target's directory
// (O_TMPFILE), which gets the temporary name only on commit, right before
// the rename: a run killed while writing leaves no file behind. Where the
// file system has no unnamed files, the temporary is a named file from the
// start.
//
// Safe in directories another account can write (mail homes): a stale
// temporary name is removed first (unlink never follows a link), a named
// temporary is created with O_CREAT|O_EXCL|O_NOFOLLOW, the link of an
// unnamed one fails rather than replace a name planted meanwhile, and owner
// and mode are set through the descriptor. A link planted at the temporary name is
// therefore removed, never written through; a link at the target is replaced
// by the rename, never followed, unless resolveTargetLink asks for the
// link's final target to be replaced instead (root-owned configuration
// files that configuration management keeps as links, such as master.cf).
//
// Failures throw korvo::SystemError naming the operation and the file. The
// destructor removes a temporary that was not committed and never throws.
//
// Use:
//   ReplaceFile out("/etc/postfix/master.cf", {0644});
//   out.write(text);
//   out.commit();
#ifndef KORVO_UTILS_REPLACEFILE_H
#define KORVO_UTILS_REPLACEFILE_H

#include "utils/FdOwner.h"

#include <string>
#include <sys/types.h>

namespace korvo {

struct ReplaceOptions {
    mode_t mode = 0644;
    // Owner of the new file; -1 keeps the creator's.
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    // Take owner, group and mode from the existing target (lstat of the
    // target, or of the link's final target with resolveTargetLink); the
    // fields above apply when there is no target yet.
    bool keepTargetAttributes = false;
    // Replace the final target of a symbolic link at the target path.
    bool resolveTargetLink = false;
    // Name of the temporary: target path followed by this suffix.
    std::string tmpSuffix = ".tmp";
};

class ReplaceFile {
public:
    ReplaceFile(const std::string& target, const ReplaceOptions& options);
    ~ReplaceFile();

    ReplaceFile(const ReplaceFile&) = delete;
    ReplaceFile& operator=(const ReplaceFile&) = delete;

    // Appends data to the new content (all of it, retrying short writes).
    void write(const char* data, std::size_t size);
    void write(const std::string& data) { write(data.data(), data.size()); }

    // fsync, rename over the target, fsync of the directory.
    void commit();

    const std::string& target() const { return target_; }
    const std::string& tmpPath() const { return tmpPath_; }
    int fd() const { return fd_.get(); }

private:
    std::string target_;
    void removeStaleTemporary() const;
    void linkAnonymous();

    std::string tmpPath_;
    FdOwner fd_;
    // Written as an unnamed file (O_TMPFILE) that is linked at the
    // temporary name only on commit.
    bool anonymous_ = true;
    bool linked_ = false;
    bool committed_ = false;
};

// The whole file in one call.
void replaceFileContent(const std::string& target, const std::string& content,
                        const ReplaceOptions& options);

// fsync of the directory holding path, so a rename or creation in it
// survives a crash.
void syncParentDirectory(const std::string& path);

// Follows symbolic links at path to the final name (relative links resolve
// against the link's directory); path itself when it is no link.
std::string finalLinkTarget(const std::string& path);

} // namespace korvo

#endif
