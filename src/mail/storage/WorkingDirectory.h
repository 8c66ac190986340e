// The current directory of the process, put back on every way out.
//
// The quota code works inside a mail home and its Maildir, as Maildir++
// tools do. A WorkingDirectory remembers the current directory when it is
// made and returns to it when destroyed; enter() changes into a directory
// opened without following a link at its last component, so a link planted
// at a name inside a mail home never moves the process elsewhere.
//
// Nothing here throws: isSaved() and enter() report failures, errno tells
// why.
#ifndef KORVO_MAIL_STORAGE_WORKINGDIRECTORY_H
#define KORVO_MAIL_STORAGE_WORKINGDIRECTORY_H

#include "utils/FdOwner.h"

namespace korvo::mail {

class WorkingDirectory {
public:
    WorkingDirectory();
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    // False when the current directory could not be remembered.
    bool isSaved() const { return saved_.get() >= 0; }
    // Changes into path; false with errno when it cannot be opened (a link
    // at its last component included) or entered.
    bool enter(const char* path);

private:
    FdOwner saved_;
};

} // namespace korvo::mail

#endif
