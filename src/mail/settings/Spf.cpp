#include "mail/settings/Spf.h"

#include "utils/Exceptions.h"
#include "utils/Logging.h"
#include "utils/ReplaceFile.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>

namespace {

int errorOf(const std::exception& e) {
    const auto* system = dynamic_cast<const korvo::SystemError*>(&e);
    return system != nullptr ? system->code() : errno;
}

} // namespace

int update_spf_file_and_parameter(const char* path, const char* value) {
    korvo::ReplaceOptions options;
    options.keepTargetAttributes = true;
    std::unique_ptr<korvo::ReplaceFile> file;
    try {
        file = std::make_unique<korvo::ReplaceFile>(path, options);
    } catch (const std::exception& e) {
        errno = errorOf(e);
        messlog2(0, 0, "Unable to open file %s for writing: %s", path, std::strerror(errno));
        return -1;
    }
    try {
        file->write(value, std::strlen(value));
        file->commit();
    } catch (const std::exception& e) {
        errno = errorOf(e);
        messlog2(0, 0, "Unable to close file %s: %s", path, std::strerror(errno));
        return -1;
    }
    return 0;
}

int update_spf(const char* behavior, const char* rules, const char* guess, const char* exp) {
    const struct {
        const char* value;
        const char* path;
        const char* setting;
    } settings[] = {{behavior, KORVO_SPF_D "/spfbehavior", "spf_behavior"},
                    {rules, KORVO_SPF_D "/spfrules", "spf_rules"},
                    {guess, KORVO_SPF_D "/spfguess", "spf_guess"},
                    {exp, KORVO_SPF_D "/spfexp", "spf_exp"}};
    for (const auto& setting : settings) {
        if (setting.value == nullptr)
            continue;
        if (update_spf_file_and_parameter(setting.path, setting.value) != 0) {
            errno = 0;
            messlog2(0, 0, "Unable to update '%s' parameter", setting.setting);
            return -1;
        }
    }
    return 0;
}
