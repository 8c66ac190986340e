// The Postfix services ("modules") switched on in master.cf and switched
// off in the tool's own file of disabled services.
//
// A service is disabled by moving its entry, raw text and all, from
// master.cf into /var/spool/postfix/korvo/master.cf.disabled (same format),
// and enabled by moving it back, so options an administrator added survive
// the round trip. The manager holds both files in memory as MasterCfContent,
// tracks which of them changed, and storeModules writes back only those.
//
// Use, once per run: getInstance(), loadModules(KEEP_LOADED), the changes,
// then storeModules(WRITE_IF_CHANGED); reload Postfix only when that
// returned true.
//
// Concurrency: loadModules takes master.cf's MKLock and storeModules
// releases it when it ends, so a run's read-modify-write of both files is
// never interleaved with another run's and no run writes back a stale copy.
// Between the two, other runs changing services wait.
//
// Crash and failure safety: storeModules writes first the file that
// receives an entry (the disabled file when a service is disabled,
// master.cf when one is enabled), so a failure between the two writes
// leaves the entry in both files, never in neither. Loading an entry found
// in both lets master.cf win; the disabled copy is dropped at the next
// store.
//
// Failures: construction raises PostfixConfigurationError when postconf
// cannot name config_directory; loading and storing raise what MasterCfIO.h
// describes. Every operation but loadModules raises std::logic_error
// "modules configuration isn't loaded yet" before the first load. Looking up
// a service in neither file raises std::out_of_range "no such module NAME".
// A missing or empty disabled file simply means nothing is disabled.
#ifndef KORVO_POSTFIX_MODULEMANAGER_H
#define KORVO_POSTFIX_MODULEMANAGER_H

#include "postfix/config/MasterCfContent.h"
#include "postfix/config/ModuleInfo.h"
#include "process/MKLock.h"

#include <boost/logic/tribool.hpp>
#include <memory>
#include <set>
#include <string>

namespace korvo::mail::postfix {

// The arguments of loadModules, storeModules, hasModule and getModule,
// named where they are called.
constexpr bool RELOAD_FILES = true;      // loadModules: read again even when loaded
constexpr bool KEEP_LOADED = false;      // loadModules: read once per run
constexpr bool WRITE_IF_CHANGED = false; // storeModules: write what changed
const boost::logic::tribool IN_MASTER_CF{true};
const boost::logic::tribool IN_DISABLED_FILE{false};
const boost::logic::tribool IN_EITHER_FILE{boost::logic::indeterminate};
constexpr bool TO_MASTER_CF = true;      // addModule: the entry serves
constexpr bool TO_DISABLED_FILE = false; // addModule: the entry waits switched off

class ModuleManager {
public:
    // The process-wide manager, built on first use; a failed construction
    // propagates and the next call tries again.
    static ModuleManager& getInstance();

    ModuleManager(const ModuleManager&) = delete;
    ModuleManager& operator=(const ModuleManager&) = delete;

    // Takes master.cf's lock (unless held already) and reads master.cf and
    // the disabled file (when there is one); does nothing when loaded
    // already, unless force. Clears both change flags.
    void loadModules(bool force);
    // Writes master.cf when it changed (or force), and the disabled file
    // likewise when there is one, the file gaining an entry first; releases
    // the lock, also when a write fails. True when master.cf was written.
    bool storeModules(bool force);

    // enabled: true asks master.cf, false the disabled file, indeterminate
    // master.cf and then the disabled file.
    bool hasModule(const std::string& name, ModuleType type, boost::logic::tribool enabled) const;
    ModuleInfo getModule(const std::string& name, ModuleType type,
                         boost::logic::tribool enabled) const;

    // Writes info as a new line (in place of an entry with its key) into
    // master.cf when enabled, else into the disabled file, and removes the
    // entry from the other file.
    void addModule(const ModuleInfo& info, bool enabled);
    // Removes the entry from both files; true when either had it.
    bool removeModule(const std::string& name, ModuleType type);
    // Moves the entry's text into the disabled file; false when master.cf
    // has no such entry.
    bool disableModule(const std::string& name, ModuleType type);
    // Moves the entry's text back into master.cf; true at once when it is
    // there already.
    bool enableModule(const std::string& name, ModuleType type);

private:
    ModuleManager();

    // The content of master.cf; raises std::logic_error before loading.
    MasterCfContent& enabledFile();
    const MasterCfContent& enabledFile() const;
    // The disabled content, made empty first when there is none.
    MasterCfContent& disabledFile();
    // Records an entry that the disabled content received, or that left it
    // for master.cf.
    void disabledGained();
    void movedToEnabled(const ModuleKey& key);
    // Drops from the disabled content every entry master.cf has too.
    void dropDisabledDuplicates();
    // Writes the disabled file while it still holds the entries moving to
    // master.cf; true when that was its final content.
    bool storeDisabledKeepingMoved();

    std::unique_ptr<MasterCfContent> enabled_;
    std::unique_ptr<MasterCfContent> disabled_;
    bool enabledChanged_ = false;
    bool disabledChanged_ = false;
    // Since the last load or store: whether the disabled content received an
    // entry, and which entries left it for master.cf.
    bool disabledGained_ = false;
    std::set<ModuleKey> movedToEnabled_;
    std::string masterCfPath_;
    // master.cf's lock, from load through store.
    std::unique_ptr<MKLock> lock_;
};

} // namespace korvo::mail::postfix

#endif
