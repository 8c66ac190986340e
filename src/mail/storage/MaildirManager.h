// Mail homes on disk: their paths, creation, renaming, backup and removal.
//
// Below the root of all mail homes (mailnamesRoot(), KORVO_MAILNAMES_D) each
// domain has its domain root, owned by root and popuser's group with mode
// 0750, and each mailname its home below that, owned by popuser with mode
// 0700, holding Maildir (tmp, new, cur), the Maildir++ folder .Spam (tmp,
// new, cur) and the attachments store @attachments, all owned by popuser
// with mode 0700.
//
// Everything inside a home can be replaced by popuser with a symbolic link,
// so subdirectories are created, opened, chowned and chmoded through
// directory descriptors without following links, and trees are removed
// without ever leaving the tree (NoFollowFs.h). Domain, mailname and the
// names derived from them must be single path components; other names are
// refused with FSError ("invalid name", EINVAL) before anything is touched.
//
// Failures: create, rename and remove failures throw Boost's filesystem
// error or its subclass FSError; chown and chmod failures throw FSError
// "chown" or "chmod" with the path concerned. A missing popuser account
// makes getInstance() throw korvo::SystemError ("user popuser not found").
// A failed createMailnameHome removes only what it made: a new home goes
// with everything in it, an existing home loses only the subdirectories the
// failed call added and keeps its mail; a failed createDomainRoot leaves
// what it made.
//
// Use: MaildirManager::getInstance().createMailnameHome("example.com", "info");
// The single instance is shared with MaildirPPManager (both getInstance()
// return the same object) and re-reads popuser's ids on every getInstance().
#ifndef KORVO_MAIL_STORAGE_MAILDIRMANAGER_H
#define KORVO_MAIL_STORAGE_MAILDIRMANAGER_H

#include <cstdint>
#include <string>

namespace korvo::mail {

// Moves path aside to path + ".KorvoSaved." + its inode number (decimal),
// which it stores in backupName. A path that does not exist (ENOENT, or
// ENOTDIR on the way) needs no backup: backupName becomes empty, true.
// Returns false with errno set when the status of path cannot be read; a
// failed rename throws Boost's filesystem error. A symbolic link at path is
// moved itself.
bool backupRename(const std::string& path, std::string& backupName);

class MaildirManager {
public:
    static MaildirManager& getInstance();

    MaildirManager(const MaildirManager&) = delete;
    MaildirManager& operator=(const MaildirManager&) = delete;

    // Looks popuser up and keeps its uid and gid.
    void init();

    std::string getDomainRoot(const std::string& domain) const;
    std::string getMailnameHome(const std::string& domain, const std::string& mailname) const;
    std::string getDomainRelativeRoot(const std::string& domain) const;
    std::string getMailnameRelativeHome(const std::string& domain,
                                        const std::string& mailname) const;

    // Creates the domain root (and missing parents) with owner root, group
    // popuser, mode 0750.
    void createDomainRoot(const std::string& domain) const;
    // Creates the home with its nine subdirectories, or resets the owner and
    // mode of an existing one; other contents stay. Missing parents (the
    // domain root) are made by root with mode 0700.
    void createMailnameHome(const std::string& domain, const std::string& mailname) const;

    void renameDomainRoot(const std::string& oldDomain, const std::string& newDomain) const;
    // A home already under its new name while the old name is gone (an
    // earlier run was stopped after moving it) is left as it is, so the
    // rename can be run again to finish.
    void renameMailnameHome(const std::string& domain, const std::string& oldMailname,
                            const std::string& newMailname) const;

    // Moves the directory to its backup name; a missing one needs none.
    // Failure: FSError ("rename", directory, backup name).
    void backupDomainRoot(const std::string& domain) const;
    void backupMailnameHome(const std::string& domain, const std::string& mailname) const;

    // Moves the domain root to its backup name first, then deletes that, so
    // the domain disappears from its name at once and an interrupted
    // removal leaves a ".KorvoSaved." directory, never a half-empty root.
    void removeDomainRoot(const std::string& domain) const;
    // Deletes the home with everything in it; a missing home is no error.
    void removeMailnameHome(const std::string& domain, const std::string& mailname) const;

    std::uint32_t getUid() const { return uid; }
    std::uint32_t getGid() const { return gid; }

protected:
    MaildirManager() = default;
    ~MaildirManager() = default;

private:
    void backup(const std::string& directory) const;

    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
};

} // namespace korvo::mail

#endif
