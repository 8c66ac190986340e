#include "mail/handlers/HandlerRegistry.h"

#include "mail/PathComponent.h"
#include "utils/DirOwner.h"
#include "utils/Exceptions.h"
#include "utils/FileUtils.h"
#include "utils/ForkExec.h"
#include "utils/Logging.h"
#include "utils/ReplaceFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <strings.h>
#include <sys/stat.h>

const char* const handler_types[HANDLER_TYPE_COUNT] = {"sender", "recipient", "sender-domain",
                                                       "recipient-domain", "global"};

int handler_type_index(const char* type) {
    if (type == nullptr)
        return -1;
    for (int i = 0; i < HANDLER_TYPE_COUNT; ++i)
        if (::strcasecmp(type, handler_types[i]) == 0)
            return i;
    return -1;
}

int handler_list(std::vector<std::string>* names) {
    const korvo::DirOwner dir(::opendir(KORVO_HANDLERS_INFO_D));
    if (dir.get() == nullptr) {
        if (errno == ENOENT)
            return 0;
        return korvo_error("Unable to open directory %s: %s", KORVO_HANDLERS_INFO_D,
                           std::strerror(errno));
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names->emplace_back(entry->d_name);
        errno = 0;
    }
    const int readError = errno;
    if (readError != 0) {
        return korvo_error("Unable to open directory %s: %s", KORVO_HANDLERS_INFO_D,
                           std::strerror(readError));
    }
    return 0;
}

char* get_handler_parameter(const char* name, const char* parameter) {
    if (!is_path_component(name) || !is_path_component(parameter)) {
        korvo_log(LOG_LEVEL_ERROR, "Invalid handler name '%s' or parameter '%s'", handler_str(name),
                  handler_str(parameter));
        return nullptr;
    }
    const std::string path = std::string(KORVO_HANDLERS_INFO_D "/") + name + "/" + parameter;
    if (!handler_path_fits(path)) {
        korvo_log(LOG_LEVEL_ERROR,
                  "either handler name '%s' or param '%s' are too long to be stored in the "
                  "filesystem",
                  name, parameter);
        return nullptr;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
        korvo_log(LOG_LEVEL_ERROR, "No such parameter '%s' for handler '%s'", parameter, name);
        return nullptr;
    }
    char buffer[KORVO_HANDLER_PARAM_MAX + 1];
    if (get_string_from_file(buffer, sizeof buffer, path.c_str()) != 0) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to get string from file: %s\n", path.c_str());
        return nullptr;
    }
    char* copy = ::strdup(buffer);
    if (copy == nullptr)
        korvo_log(LOG_LEVEL_ERROR, "Unable to allocate sufficient memory: %s",
                  std::strerror(errno));
    return copy;
}

int string_to_file(const char* directory, const char* parameter, const char* value) {
    if (value == nullptr || *value == '\0')
        return 0;
    if (!is_path_component(parameter)) {
        return korvo_error("Invalid parameter name '%s'", handler_str(parameter));
    }
    const std::string path = std::string(directory) + "/" + parameter;
    std::unique_ptr<korvo::ReplaceFile> file;
    try {
        korvo::ReplaceOptions options;
        options.mode = 0644;
        file = std::make_unique<korvo::ReplaceFile>(path, options);
    } catch (const std::exception& e) {
        korvo_log(LOG_LEVEL_ERROR, "%s", e.what());
        return korvo_error("Unable to create file '%s'", path.c_str());
    }
    try {
        std::string line(value);
        if (line.back() != '\n')
            line += '\n';
        file->write(line);
        file->commit();
    } catch (const std::exception& e) {
        korvo_log(LOG_LEVEL_ERROR, "%s", e.what());
        return korvo_error("Unable to add string '%s' to '%s'", value, path.c_str());
    }
    return 0;
}

void handlers_sync() {
    struct stat st {};
    if (::stat(KORVO_HANDLERS_SYNC, &st) != 0 || !S_ISREG(st.st_mode) ||
        (st.st_mode & S_IXUSR) == 0)
        return;
    char program[] = KORVO_HANDLERS_SYNC;
    char refresh[] = "refresh";
    char* const argv[] = {program, refresh, nullptr};
    if (fork_execv_log(program, argv, 0) != 0)
        korvo_log(LOG_LEVEL_WARNING, "Cannot sync tmps storage to fs");
}
