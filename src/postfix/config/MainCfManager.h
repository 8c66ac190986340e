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
// Concurrency: every write holds an MKLock derived from main.cf's path, and
// every read-modify-write (the list edits, editValue) holds it from the read
// through the write, so two runs that each add an element keep both. The
// lock is not re-entrant: never call this manager from inside an edit.
//
// "mynetworks" is special: Postfix's computed default never reaches the
// caller. When main.cf does not set it, it reads as the stand-in
// "127.0.0.0/8" plus the host's first non-loopback IPv4 address as a /32
// (plus "[::1]/128" when Postfix's live value holds it, so local IPv6
// clients keep relaying). When main.cf sets it to the value "postconf -d"
// computes, or that value followed by more networks, the computed part is
// replaced by the stand-in; any other setting reads as it is.
//
// Use: MainCfManager::getInstance().appendStringValue("mynetworks", net);
#ifndef KORVO_POSTFIX_MAINCFMANAGER_H
#define KORVO_POSTFIX_MAINCFMANAGER_H

#include <functional>
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

    // Changes value (as getStringValue reads it) in place; false leaves the
    // parameter as it is.
    using ValueEdit = std::function<bool(std::string& value)>;
    // Reads the parameter, applies edit and writes the result, all under
    // main.cf's lock.
    void editValue(const std::string& name, const ValueEdit& edit) const;

private:
    MainCfManager();

    // postconf -e without taking the lock; the caller holds it.
    void writeValue(const std::string& name, const std::string& value) const;

    std::string mainCfPath;
};

// Items of a comma-separated main.cf list, each trimmed, empty ones dropped.
std::vector<std::string> splitListItems(const std::string& value);

} // namespace korvo::mail::postfix

#endif
