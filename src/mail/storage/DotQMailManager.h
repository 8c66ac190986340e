// The delivery file ".qmail" of one mail home, the object face.
//
// One DotQMailManager is made per operation for the ".qmail" path of a
// mail home (MaildirManager::getMailnameHome(domain, mailname) + "/.qmail").
// Each method runs one dotqmail_* function (DotQMail.h) and, when that
// fails (it has printed why), throws korvo::SystemError "unable to modify "
// + path with the current errno. The file is left as the last successful
// edit left it.
//
// Use: DotQMailManager(home + "/.qmail").enableDelivery();
#ifndef KORVO_MAIL_STORAGE_DOTQMAILMANAGER_H
#define KORVO_MAIL_STORAGE_DOTQMAILMANAGER_H

#include <string>
#include <utility>

namespace korvo::mail {

class DotQMailManager {
public:
    // Where a new forward line goes; accepted for the callers' sake, but
    // new lines always go to the end.
    enum Position { AtBeginning = 0, AtEnd = 1, Default = 2 };

    explicit DotQMailManager(std::string path) : path_(std::move(path)) {}

    // The single line "| true": nothing is stored or forwarded.
    void reset() const;
    // Store mail in the Maildir through deliverquota.
    void enableDelivery() const;
    void disableDelivery() const;
    // Forward a copy to address (its domain is converted to ASCII).
    void addRedirect(const std::string& address, Position position) const;
    void removeRedirect(const std::string& address) const;

    const std::string& path() const { return path_; }

private:
    void check(int result) const;

    std::string path_;
};

} // namespace korvo::mail

#endif
