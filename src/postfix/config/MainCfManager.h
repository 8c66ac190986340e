// Reads and changes parameters of Postfix's main.cf.
//
// The file is never parsed here: every read runs "/usr/sbin/postconf -h"
// (with "-d" for Postfix's built-in default) and every write runs
// "/usr/sbin/postconf -e NAME=VALUE", each as a one-process pipe whose
// output and error text are collected. Values come back trimmed; list
// parameters are written with ", " between elements.
//
// Failures: a postconf run that exits non-zero, dies, or prints an error line
// ("fatal:", "error:", "panic:") with no value raises
// PostfixConfigurationError carrying postconf's error text ("unknown error"
// when it printed none). An unknown parameter only draws a warning from
// postconf and reads as the empty string. Launch failures of the process
// layer and lock failures propagate unchanged.
//
// Concurrency: writers of concurrent runs serialize on an MKLock derived from
// main.cf's path; that lock covers each single write only, so a list edit
// (read, change, write) is not atomic as a whole.
//
// "mynetworks" is special: when it holds Postfix's computed default, the
// computed part is replaced by "127.0.0.0/8" plus the host's first
// non-loopback IPv4 address as a /32, so the address list that callers see
// (and write back) never depends on postconf's own network detection.
//
// Use: MainCfManager::getInstance().appendStringValue("mynetworks", net);
#ifndef KORVO_POSTFIX_MAINCFMANAGER_H
#define KORVO_POSTFIX_MAINCFMANAGER_H

#include <string>
#include <vector>

namespace korvo::mail::postfix {

class MainCfManager {
public:
    // The process-wide manager, built on first use; a failed construction
    // propagates and the next call tries again.
    static MainCfManager& getInstance();

    MainCfManager(const MainCfManager&) = delete;
    MainCfManager& operator=(const MainCfManager&) = delete;

    // The configured value, or Postfix's built-in default when useDefault.
    std::string getStringValue(const std::string& name, bool useDefault) const;
    void replaceStringValue(const std::string& name, const std::string& value) const;
    // Appends element to a list split at blanks, tabs and commas, unless it
    // is present already.
    void appendStringValue(const std::string& name, const std::string& element) const;
    // Appends "key value" as one item of a comma-separated list, unless an
    // equal item is present already.
    void appendCompoundStringValue(const std::string& name, const std::string& key,
                                   const std::string& value) const;
    // Removes every occurrence of element; writes nothing when there is none.
    void removeListElement(const std::string& name, const std::string& element) const;

private:
    MainCfManager();

    std::string mainCfPath;
};

// Items of a comma-separated main.cf list, each trimmed, empty ones dropped.
std::vector<std::string> splitListItems(const std::string& value);

} // namespace korvo::mail::postfix

#endif
