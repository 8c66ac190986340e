// The main.cf settings that send mail for the tool's domains through its
// tables to the delivery agent.
//
// Three kinds of setting:
//  - owned: the parameter must hold exactly the wanted value. Unset in
//    main.cf, it is set; set there to something else, it is someone else's
//    setting: refused unless force.
//  - preferred: wanted, but Postfix works without it. Unset, it is set; set
//    to something else, or while the parameter it yields to is set, it is
//    kept, with a note of what that costs (force sets it all the same).
//  - list item: the wanted item (one or more words, such as
//    "check_sender_access TABLE") must appear in the parameter's list; when
//    it does not, it is appended to the current value (main.cf's own, else
//    Postfix's built-in default), which keeps every other item and its order.
//
// MainCfChanges takes main.cf's lock (the one MainCfManager takes), reads
// main.cf once ("postconf -n", plus one "postconf -d" for the defaults of
// list parameters main.cf leaves unset), and keeps the lock until it is
// destroyed, so the check and the write see the same file. write() puts
// every change into main.cf with one "postconf -e" run. Reading a main.cf
// between writes would cost time as well: postconf waits until a file
// changed within the last second has stood still.
//
// A parameter of a master.cf service that does not exist yet (the agent's
// recipient limit before its service is added) is unknown to postconf and
// reads as unset. Settings known only at run time (the TLS files) are
// judged with add() before anything is written. postconf failures raise
// PostfixConfigurationError with its error text; lock failures raise
// korvo::SystemError.
#ifndef KORVO_SETUP_MAINCFSETUP_H
#define KORVO_SETUP_MAINCFSETUP_H

#include "process/MKLock.h"
#include "setup/SetupReport.h"

#include <map>
#include <string>
#include <vector>

namespace korvo::setup {

struct MainCfSetting {
    enum Kind { Owned, ListItem, Preferred };
    std::string name;
    std::string value;
    Kind kind;
    // Owned and preferred: what Postfix uses while main.cf leaves the
    // parameter unset; main.cf spelling it out is no one's choice and is
    // replaced.
    std::string builtIn = "";
    // Preferred: a parameter whose setting the wanted value would bypass,
    // and what is lost when the setting is kept.
    std::string yieldsTo = "";
    std::string keptMeans = "";
};

// Everything setup wants in main.cf, in the order it is judged.
std::vector<MainCfSetting> wantedMainCfSettings();

// True when the list (items separated by blanks, tabs, commas or line
// breaks) holds the words of item one after another.
bool listHoldsItem(const std::string& list, const std::string& item);

class MainCfChanges {
public:
    explicit MainCfChanges(bool force);

    // Judges one more setting, one known only at run time.
    void add(const MainCfSetting& setting, bool force);

    // What main.cf itself set name to when it was read: empty when unset
    // (for the list parameters of wantedMainCfSettings, Postfix's default).
    std::string configured(const std::string& name) const;
    const std::string& configDirectory() const { return configDirectory_; }

    // Settings someone else made that setup would have to replace.
    const std::vector<std::string>& refusals() const { return refusals_; }
    // Preferred settings kept as someone else made them, and what that means.
    const std::vector<std::string>& notes() const { return notes_; }
    bool empty() const { return changedNames_.empty(); }

    // Writes every change at once and reports each.
    void write(SetupReport& report) const;

private:
    MainCfChanges(bool force, const std::string& configDirectory);

    std::string configDirectory_;
    MKLock lock_;
    std::map<std::string, std::string> read_;   // main.cf's own settings
    std::map<std::string, std::string> values_; // with the changes
    std::vector<std::string> changedNames_;
    std::vector<std::string> changes_; // one report line per setting changed
    std::vector<std::string> refusals_;
    std::vector<std::string> notes_;
};

} // namespace korvo::setup

#endif
