// The mailnames of a domain with their mail aliases, as one panel query
// reads them (PanelQueries.h) for the commands that need both lists.
#ifndef KORVO_MAIL_PANEL_MAILNAMEALIASES_H
#define KORVO_MAIL_PANEL_MAILNAMEALIASES_H

#include <string>
#include <vector>

namespace korvo::mail {

struct MailnameAliases {
    std::string mailname;
    std::vector<std::string> aliases;
};
using MailnameAliasList = std::vector<MailnameAliases>;

} // namespace korvo::mail

#endif
