#include "postfix/config/MasterCfContent.h"

#include <iterator>
#include <stdexcept>

namespace korvo::mail::postfix {

void MasterCfContent::addModule(const ModuleInfo& info, const std::string& text) {
    const ModuleKey key = info.key();
    const auto position = positions_.find(key);
    if (position != positions_.end()) {
        *position->second = text;
    } else {
        lines_.push_back(text);
        positions_.emplace(key, std::prev(lines_.end()));
    }
    entries_[key] = info;
}

bool MasterCfContent::removeModule(const std::string& name, ModuleType type) {
    const auto position = positions_.find({name, type});
    if (position == positions_.end())
        return false;
    lines_.erase(position->second);
    entries_.erase(position->first);
    positions_.erase(position);
    return true;
}

bool MasterCfContent::hasModule(const std::string& name, ModuleType type) const {
    return entries_.count({name, type}) != 0;
}

std::pair<ModuleInfo, std::string> MasterCfContent::getModule(const std::string& name,
                                                              ModuleType type) const {
    const auto position = positions_.find({name, type});
    if (position == positions_.end())
        throw std::out_of_range("no such module " + name);
    return {entries_.at(position->first), *position->second};
}

void MasterCfContent::appendRawLine(const std::string& text) {
    lines_.push_back(text);
}

} // namespace korvo::mail::postfix
