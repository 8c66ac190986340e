// One parsed master.cf-format file: every raw line in order plus an index of
// the service entries.
//
// Lines hold the file's text without line feeds; an entry that continues on
// further lines is one element holding the embedded line feeds, indentation
// and comments. Only whole entries are ever changed, so comments, blank
// lines and every entry nobody touches are written back byte for byte.
// The same class serves master.cf and the file of disabled services.
//
// Entries are keyed by (name, type). Adding an entry whose key exists
// replaces its line in place, so a file naming a key twice keeps a single
// line for it. Lookups of an absent key raise std::out_of_range "no such
// module NAME". Not copyable: the index points into the line list.
//
// Use: parse with parseMasterCf or loadMasterCf (MasterCfIO.h), edit with
// addModule/removeModule, write back with storeMasterCf.
#ifndef KORVO_POSTFIX_MASTERCFCONTENT_H
#define KORVO_POSTFIX_MASTERCFCONTENT_H

#include "postfix/config/ModuleInfo.h"

#include <list>
#include <map>
#include <string>
#include <utility>

namespace korvo::mail::postfix {

class MasterCfContent {
public:
    MasterCfContent() = default;
    MasterCfContent(const MasterCfContent&) = delete;
    MasterCfContent& operator=(const MasterCfContent&) = delete;

    // Replaces the entry with info's key in place, or appends text as the
    // last line.
    void addModule(const ModuleInfo& info, const std::string& text);
    // Removes the entry and its line; false when there was none.
    bool removeModule(const std::string& name, ModuleType type);
    bool hasModule(const std::string& name, ModuleType type) const;
    // The entry and its text.
    std::pair<ModuleInfo, std::string> getModule(const std::string& name, ModuleType type) const;

    // Appends a comment or blank line.
    void appendRawLine(const std::string& text);
    const std::list<std::string>& lines() const { return lines_; }
    const std::map<ModuleKey, ModuleInfo>& entries() const { return entries_; }

private:
    std::list<std::string> lines_;
    std::map<ModuleKey, ModuleInfo> entries_;
    std::map<ModuleKey, std::list<std::string>::iterator> positions_;
};

} // namespace korvo::mail::postfix

#endif
