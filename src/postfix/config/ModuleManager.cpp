#include "postfix/config/ModuleManager.h"

#include "postfix/config/MainCfManager.h"
#include "postfix/config/MasterCfIO.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace korvo::mail::postfix {

namespace {

const char* const disabledPath = "/var/spool/postfix/korvo/master.cf.disabled";

// False for a missing or empty file. Anything else, even a file that cannot
// be examined, is left to loadMasterCf to read or to report.
bool holdsServices(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0)
        return errno != ENOENT;
    return !S_ISREG(st.st_mode) || st.st_size != 0;
}

std::unique_ptr<MasterCfContent> load(const std::string& path) {
    auto content = std::make_unique<MasterCfContent>();
    loadMasterCf(path, *content);
    return content;
}

} // namespace

ModuleManager& ModuleManager::getInstance() {
    static ModuleManager theManager;
    return theManager;
}

ModuleManager::ModuleManager() {
    const std::string directory =
        MainCfManager::getInstance().getStringValue("config_directory", false);
    if (directory.empty())
        throw PostfixConfigurationError("unable to determine Postfix config_directory parameter");
    masterCfPath_ = directory + "/master.cf";
}

MasterCfContent& ModuleManager::enabledFile() {
    if (!enabled_)
        throw std::logic_error("modules configuration isn't loaded yet");
    return *enabled_;
}

const MasterCfContent& ModuleManager::enabledFile() const {
    if (!enabled_)
        throw std::logic_error("modules configuration isn't loaded yet");
    return *enabled_;
}

MasterCfContent& ModuleManager::disabledFile() {
    if (!disabled_)
        disabled_ = std::make_unique<MasterCfContent>();
    return *disabled_;
}

void ModuleManager::disabledGained() {
    disabledGained_ = true;
    disabledChanged_ = true;
}

void ModuleManager::movedToEnabled(const ModuleKey& key) {
    movedToEnabled_.insert(key);
    disabledChanged_ = true;
}

void ModuleManager::dropDisabledDuplicates() {
    if (!disabled_)
        return;
    std::vector<ModuleKey> duplicates;
    for (const auto& entry : disabled_->entries())
        if (enabled_->hasModule(entry.first.first, entry.first.second))
            duplicates.push_back(entry.first);
    for (const ModuleKey& key : duplicates)
        disabled_->removeModule(key.first, key.second);
    disabledChanged_ = !duplicates.empty();
}

void ModuleManager::loadModules(bool force) {
    if (enabled_ && !force)
        return;
    if (!lock_)
        lock_ = std::make_unique<MKLock>(masterCfPath_, MKLock::LOCK_BY_DIGEST, MKLock::BLOCK);
    auto enabledContent = load(masterCfPath_);
    auto disabledContent = holdsServices(disabledPath) ? load(disabledPath) : nullptr;
    enabled_ = std::move(enabledContent);
    disabled_ = std::move(disabledContent);
    enabledChanged_ = false;
    disabledGained_ = false;
    movedToEnabled_.clear();
    dropDisabledDuplicates();
}

bool ModuleManager::storeDisabledKeepingMoved() {
    std::vector<ModuleKey> kept;
    for (const ModuleKey& key : movedToEnabled_) {
        if (enabled_->hasModule(key.first, key.second) &&
            !disabled_->hasModule(key.first, key.second)) {
            const auto [info, text] = enabled_->getModule(key.first, key.second);
            disabled_->addModule(info, text);
            kept.push_back(key);
        }
    }
    replaceMasterCf(disabledPath, *disabled_);
    for (const ModuleKey& key : kept)
        disabled_->removeModule(key.first, key.second);
    return kept.empty();
}

bool ModuleManager::storeModules(bool force) {
    const MasterCfContent& enabledContent = enabledFile();
    // Released on every way out, so a failed store never blocks other runs.
    const std::unique_ptr<MKLock> lock =
        lock_ ? std::move(lock_)
              : std::make_unique<MKLock>(masterCfPath_, MKLock::LOCK_BY_DIGEST, MKLock::BLOCK);
    const bool writeEnabled = enabledChanged_ || force;
    bool writeDisabled = disabled_ && (disabledChanged_ || force);
    if (writeDisabled && writeEnabled && disabledGained_)
        writeDisabled = !storeDisabledKeepingMoved();
    if (writeEnabled) {
        replaceMasterCf(masterCfPath_, enabledContent);
        enabledChanged_ = false;
    }
    if (writeDisabled)
        replaceMasterCf(disabledPath, *disabled_);
    disabledChanged_ = false;
    disabledGained_ = false;
    movedToEnabled_.clear();
    return writeEnabled;
}

bool ModuleManager::hasModule(const std::string& name, ModuleType type,
                              boost::logic::tribool enabled) const {
    const MasterCfContent& enabledContent = enabledFile();
    const bool inDisabled = disabled_ && disabled_->hasModule(name, type);
    if (enabled)
        return enabledContent.hasModule(name, type);
    if (!enabled)
        return inDisabled;
    return enabledContent.hasModule(name, type) || inDisabled;
}

ModuleInfo ModuleManager::getModule(const std::string& name, ModuleType type,
                                    boost::logic::tribool enabled) const {
    const MasterCfContent& enabledContent = enabledFile();
    const bool fromEnabled =
        enabled ? true
                : boost::logic::indeterminate(enabled) && enabledContent.hasModule(name, type);
    if (fromEnabled)
        return enabledContent.getModule(name, type).first;
    if (!disabled_)
        throw std::out_of_range("no such module " + name);
    return disabled_->getModule(name, type).first;
}

void ModuleManager::addModule(const ModuleInfo& info, bool enabled) {
    MasterCfContent& enabledContent = enabledFile();
    const std::string line = info.format();
    if (enabled) {
        enabledContent.addModule(info, line);
        enabledChanged_ = true;
        if (disabled_ && disabled_->removeModule(info.name, info.type))
            movedToEnabled(info.key());
    } else {
        disabledFile().addModule(info, line);
        disabledGained();
        if (enabledContent.removeModule(info.name, info.type))
            enabledChanged_ = true;
    }
}

bool ModuleManager::removeModule(const std::string& name, ModuleType type) {
    const bool fromEnabled = enabledFile().removeModule(name, type);
    const bool fromDisabled = disabled_ && disabled_->removeModule(name, type);
    enabledChanged_ = enabledChanged_ || fromEnabled;
    disabledChanged_ = disabledChanged_ || fromDisabled;
    return fromEnabled || fromDisabled;
}

bool ModuleManager::disableModule(const std::string& name, ModuleType type) {
    MasterCfContent& enabledContent = enabledFile();
    if (!enabledContent.hasModule(name, type))
        return false;
    const auto [info, text] = enabledContent.getModule(name, type);
    disabledFile().addModule(info, text);
    enabledContent.removeModule(name, type);
    enabledChanged_ = true;
    disabledGained();
    return true;
}

bool ModuleManager::enableModule(const std::string& name, ModuleType type) {
    MasterCfContent& enabledContent = enabledFile();
    if (enabledContent.hasModule(name, type))
        return true;
    if (!disabled_ || !disabled_->hasModule(name, type))
        throw std::out_of_range("no such module " + name);
    const auto [info, text] = disabled_->getModule(name, type);
    enabledContent.addModule(info, text);
    enabledChanged_ = true;
    movedToEnabled({name, type});
    return disabled_->removeModule(name, type);
}

} // namespace korvo::mail::postfix
