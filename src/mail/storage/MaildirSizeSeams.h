// Link-time seams of the maildirsize writer and the usage count, for their
// tests only.
//
// The writer waits two seconds between attempts to create its temporary
// file and checks for changes made while it counted; the count stats every
// untagged message name it has just listed. These functions are defined
// weak in the library: the real sleep, and nothing between count and check
// or between listing and stat. Nothing can change them at run time; a test
// program replaces them by linking its own (strong) definitions, so that the
// five-attempt limit can be tested without sleeping ten seconds, and a
// change during the count or a message vanishing before its stat can be
// made at the right moment. Production code never defines them.
#ifndef KORVO_MAIL_STORAGE_MAILDIRSIZESEAMS_H
#define KORVO_MAIL_STORAGE_MAILDIRSIZESEAMS_H

namespace korvo::mail::seam {

// Waits before a further attempt to create the temporary maildirsize.
void maildirsizeRetrySleep(unsigned int seconds);

// Runs after the usage has been counted and written, before the check for
// changes made meanwhile. maildirFd is the Maildir being counted.
void maildirsizeAfterCount(int maildirFd);

// Runs after the untagged message name has been listed in the directory
// open as dirFd, before it is stat'ed.
void maildirUsageBeforeStat(int dirFd, const char* name);

} // namespace korvo::mail::seam

#endif
