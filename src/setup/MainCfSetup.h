// The main.cf settings that send mail for the tool's domains through its
// tables to the delivery agent.
//
// Two kinds of setting:
//  - owned: the parameter must hold exactly the wanted value. Unset in
//    main.cf, it is set; set there to something else, it is someone else's
//    setting and left as it is (reported, run incomplete) unless force.
//  - list item: the wanted item (one or more words, such as
//    "check_sender_access TABLE") must appear in the parameter's list; when
//    it does not, it is appended to the current value, which keeps every
//    other item and its order.
// Each parameter is read, judged and written under main.cf's lock
// (MainCfManager::editValue). postconf failures raise
// PostfixConfigurationError.
#ifndef KORVO_SETUP_MAINCFSETUP_H
#define KORVO_SETUP_MAINCFSETUP_H

#include "setup/SetupReport.h"

#include <string>
#include <vector>

namespace korvo::setup {

struct MainCfSetting {
    enum Kind { Owned, ListItem };
    std::string name;
    std::string value;
    Kind kind;
};

// Everything setup wants in main.cf, in the order it is written.
std::vector<MainCfSetting> wantedMainCfSettings();

// True when the list (items separated by blanks, tabs, commas or line
// breaks) holds the words of item one after another.
bool listHoldsItem(const std::string& list, const std::string& item);

// True when main.cf was written.
bool ensureMainCf(bool force, SetupReport& report);

} // namespace korvo::setup

#endif
