#include "mail/handlers/MailHandlers.h"

#include "mail/PathComponent.h"
#include "mail/handlers/HandlerNames.h"
#include "mail/handlers/HandlerRegistry.h"
#include "utils/DirOwner.h"
#include "utils/FileUtils.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"
#include "utils/StringUtils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string infoDir = KORVO_HANDLERS_INFO_D;

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool empty(const char* text) {
    return text == nullptr || *text == '\0';
}

// Reads the one-line parameter file info/entry/parameter into line; logs
// and fails when the path is too long or the file cannot be read.
bool readEntryParameter(const std::string& entry, const char* parameter, std::string* line) {
    const std::string path = infoDir + "/" + entry + "/" + parameter;
    if (!handler_path_fits(path)) {
        korvo_log(LOG_LEVEL_ERROR, "Path '%s/%s/%s' is too long to be stored in the filesystem",
                  infoDir.c_str(), entry.c_str(), parameter);
        return false;
    }
    char buffer[KORVO_HANDLER_PARAM_MAX + 1];
    if (get_string_from_file(buffer, sizeof buffer, path.c_str()) != 0) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to get string from file: %s\n", path.c_str());
        return false;
    }
    line->assign(buffer);
    return true;
}

// Whether the handler entry matches; -1 when one of its files is unreadable.
int entryMatches(const std::string& entry, const char* type, bool global, const char* value,
                 const char* hook) {
    std::string line;
    if (!readEntryParameter(entry, "hook", &line))
        return -1;
    if (line != hook)
        return 0;
    if (!readEntryParameter(entry, "handler-type", &line))
        return -1;
    if (line != type)
        return 0;
    if (global)
        return 1;
    if (!readEntryParameter(entry, type, &line))
        return -1;
    return ::strcasecmp(line.c_str(), value) == 0 ? 1 : 0;
}

// The checks a new handler must pass before anything is created (or, for an
// update, removed). Returns the type's table index, or -1.
int checkNewHandler(const char* templ, const char* type, const char* value, const char* executable,
                    const char* hook, const char* priority) {
    struct stat st {};
    if (::stat(executable != nullptr ? executable : "", &st) != 0) {
        return korvo_error("Unable to stat executable '%s': %s", handler_str(executable),
                           std::strerror(errno));
    }
    const int index = handler_type_index(type);
    if (index < 0) {
        return korvo_error("Handler type is invalid: %s", handler_str(type));
    }
    if (index != HANDLER_TYPE_GLOBAL && empty(value)) {
        return korvo_error("HandlerTypeName parameter is not defined");
    }
    if (index != HANDLER_TYPE_GLOBAL && !is_path_component(value)) {
        return korvo_error("HandlerTypeName '%s' cannot name a queue directory", value);
    }
    if (!is_path_component(hook)) {
        return korvo_error("Hook '%s' cannot name a queue directory", handler_str(hook));
    }
    if (empty(templ) || priority == nullptr || std::strchr(templ, '/') != nullptr ||
        std::strchr(priority, '/') != nullptr) {
        return korvo_error("Name template '%s' or priority '%s' cannot form a valid handler name",
                           handler_str(templ), handler_str(priority));
    }
    return index;
}

// Writes the parameter files, the global flag and the executable link of
// a new handler into dir.
int fillHandlerDirectory(const std::string& dir, int index, const char* value,
                         const char* executable, const char* context, const char* hook) {
    if (string_to_file(dir.c_str(), "hook", hook) != 0 ||
        string_to_file(dir.c_str(), "context", context) != 0 ||
        string_to_file(dir.c_str(), "handler-type", handler_types[index]) != 0) {
        return korvo_error("Unable to store handler parameters into directory '%s'", dir.c_str());
    }
    if (index != HANDLER_TYPE_GLOBAL) {
        const korvo::MallocString lower(strtolower_dynamic(value));
        if (lower == nullptr) {
            return korvo_error("Unable to convert HandlerTypeName to lowercase");
        }
        if (string_to_file(dir.c_str(), handler_types[index], lower.get()) != 0) {
            return korvo_error("Unable to store handler parameters into directory '%s'",
                               dir.c_str());
        }
    } else {
        const std::string flag = dir + "/global";
        if (!handler_path_fits(flag)) {
            return korvo_error(
                "global handler flag name is too long to be stored in the filesystem");
        }
        if (create_empty_file(flag.c_str()) != 0) {
            return korvo_error("Unable to create file '%s'", flag.c_str());
        }
    }
    const std::string link = dir + "/executable";
    if (!handler_path_fits(link)) {
        return korvo_error("executable link name is too long to be stored in the filesystem");
    }
    if (::symlink(executable, link.c_str()) != 0 && errno != EEXIST) {
        return korvo_error("Unable to symlink '%s' to '%s'", executable, link.c_str());
    }
    return 0;
}

int enableEntry(const std::string& queue, const std::string& entry) {
    if (make_dir_rec(queue.c_str(), 0, 0, 0755) != 0)
        korvo_log(LOG_LEVEL_ERROR, "Unable to create directory '%s'", queue.c_str());
    return create_empty_file(entry.c_str());
}

int disableEntry(const char* name, const std::string& queue, const std::string& entry) {
    if (::unlink(entry.c_str()) != 0 && errno != ENOENT) {
        return korvo_error("Unable to remove hook '%s' from directory '%s': %s", name,
                           queue.c_str(), std::strerror(errno));
    }
    return 0;
}

// Action 5: an enabled handler like name for newValue, unless one exists.
int copyHandler(const char* name, const char* type, const char* hook, const char* newValue) {
    HandlerNameParts parts;
    if (handler_name_split(name, &parts) != 0)
        return -1;
    const korvo::MallocString existing(get_handler_name(parts.templ.c_str(), type, newValue, hook));
    if (existing != nullptr)
        return 0;
    const std::string link = infoDir + "/" + name + "/executable";
    if (!handler_path_fits(link)) {
        return korvo_error("HandlerName '%s' is too long to form a valid hook filename", name);
    }
    const korvo::MallocString executable(::realpath(link.c_str(), nullptr));
    if (executable == nullptr) {
        return korvo_error(errno == ENOMEM ? "Insufficient memory"
                                           : "Unable to get executable file name for handler\n");
    }
    const korvo::MallocString context(get_handler_parameter(name, "context"));
    if (context == nullptr)
        return -1;
    return mail_handler_add(parts.templ.c_str(), type, newValue, executable.get(), context.get(),
                            hook, parts.priority.c_str(), HANDLER_ENABLE);
}

// The queue directory of handler name; empty after a message on failure.
std::string queueOf(const char* name, int index, const char* hook) {
    if (!is_path_component(hook)) {
        korvo_log(LOG_LEVEL_ERROR, "Invalid hook '%s' for handler '%s'", hook, name);
        return "";
    }
    std::string queue = std::string(KORVO_HANDLERS_ROOT "/") + hook + "/" + handler_types[index];
    if (index != HANDLER_TYPE_GLOBAL) {
        const korvo::MallocString value(get_handler_parameter(name, handler_types[index]));
        if (value == nullptr) {
            korvo_log(LOG_LEVEL_ERROR, "Unable to fetch '%s' parameter value for handler '%s'",
                      handler_types[index], name);
            return "";
        }
        if (!is_path_component(value.get())) {
            korvo_log(LOG_LEVEL_ERROR, "Invalid %s '%s' for handler '%s'", handler_types[index],
                      value.get(), name);
            return "";
        }
        queue += "/";
        queue += value.get();
    }
    if (!handler_path_fits(queue)) {
        korvo_log(LOG_LEVEL_ERROR,
                  "handler parameters values are too long to form a valid filesystem object "
                  "name");
        return "";
    }
    return queue;
}

bool validName(const char* name) {
    if (is_path_component(name))
        return true;
    korvo_log(LOG_LEVEL_ERROR, "Handler name '%s' cannot name a directory", handler_str(name));
    return false;
}

} // namespace

char* get_handler_name(const char* templ, const char* type, const char* value, const char* hook) {
    if (empty(templ) || empty(hook)) {
        korvo_log(LOG_LEVEL_ERROR, "Some parameter(s) were not defined");
        return nullptr;
    }
    const int index = handler_type_index(type);
    if (index < 0) {
        korvo_log(LOG_LEVEL_ERROR, "Invalid handler type '%s'", handler_str(type));
        return nullptr;
    }
    const bool global = index == HANDLER_TYPE_GLOBAL;
    if (!global && empty(value)) {
        korvo_log(LOG_LEVEL_ERROR, "Some parameter was not defined");
        return nullptr;
    }
    std::vector<std::string> entries;
    if (handler_list(&entries) != 0)
        return nullptr;
    for (const std::string& entry : entries) {
        if (entry.find(templ) == std::string::npos)
            continue;
        const int match = entryMatches(entry, type, global, value, hook);
        if (match < 0)
            return nullptr;
        if (match > 0)
            return ::strdup(entry.c_str());
    }
    return nullptr;
}

int control_handler_queue(const char* name, const char* newValue, int action) {
    if (!validName(name))
        return -1;
    const korvo::MallocString type(get_handler_parameter(name, "handler-type"));
    if (type == nullptr) {
        return korvo_error("Unable to fetch 'handler-type' parameter value for handler '%s'", name);
    }
    const int index = handler_type_index(type.get());
    if (index < 0) {
        return korvo_error("Invalid handler type '%s' for handler '%s'", type.get(), name);
    }
    const korvo::MallocString hook(get_handler_parameter(name, "hook"));
    if (hook == nullptr) {
        return korvo_error("Unable to fetch 'hook' parameter value for handler '%s'", name);
    }
    const std::string queue = queueOf(name, index, hook.get());
    if (queue.empty())
        return -1;
    const std::string entry = queue + "/" + name;
    if (!handler_path_fits(entry)) {
        return korvo_error("handler name is too long to form a valid filesystem object name");
    }
    int result;
    switch (action) {
    case HANDLER_REMOVE:
        result = mail_handler_remove(name);
        break;
    case HANDLER_ENABLE:
        result = enableEntry(queue, entry);
        break;
    case HANDLER_DISABLE:
        result = disableEntry(name, queue, entry);
        break;
    case HANDLER_QUERY:
        return exists(entry) ? 1 : 0;
    case HANDLER_COPY:
        result = copyHandler(name, handler_types[index], hook.get(), newValue);
        break;
    case HANDLER_MOVE:
        result = copyHandler(name, handler_types[index], hook.get(), newValue);
        if (result == 0)
            result = mail_handler_remove(name);
        break;
    default:
        return korvo_error("UKNOWN ACTION %d requested for handler %s", action, name);
    }
    handlers_sync();
    // An emptied queue goes; rmdir refuses one that still holds entries.
    const int savedErrno = errno;
    if (exists(queue))
        ::rmdir(queue.c_str());
    errno = savedErrno;
    return result;
}

int mail_handler_add(const char* templ, const char* type, const char* value, const char* executable,
                     const char* context, const char* hook, const char* priority, int action) {
    const int index = checkNewHandler(templ, type, value, executable, hook, priority);
    if (index < 0)
        return -1;
    std::string dir = infoDir + "/" + priority + "-" + templ + "-XXXXXX";
    if (!handler_path_fits(dir)) {
        korvo_log(LOG_LEVEL_ERROR,
                  "Name template '%s' or priority '%s' are too long to form a valid handler name",
                  templ, priority);
        return -1;
    }
    make_dir_rec(infoDir.c_str(), 0, 0, 0755);
    if (::mkdtemp(&dir[0]) == nullptr) {
        return korvo_error("Unable to create directory %s: %s", dir.c_str(), std::strerror(errno));
    }
    if (::chmod(dir.c_str(), 0755) != 0) {
        return korvo_error("Unable to change permissions for directory '%s': %s", dir.c_str(),
                           std::strerror(errno));
    }
    if (fillHandlerDirectory(dir, index, value, executable, context, hook) != 0)
        return -1;
    return control_handler_queue(dir.c_str() + infoDir.size() + 1, nullptr, action);
}

int mail_handler_update(const char* templ, const char* type, const char* value,
                        const char* executable, const char* context, const char* hook,
                        const char* priority) {
    const korvo::MallocString old(get_handler_name(templ, type, value, hook));
    if (old == nullptr) {
        return korvo_error("Handler %s for %s does not exist in queue %s", handler_str(templ),
                           handler_str(value), handler_str(hook));
    }
    std::string newExecutable;
    if (!empty(executable)) {
        newExecutable = executable;
    } else {
        const std::string link = infoDir + "/" + old.get() + "/executable";
        if (!handler_path_fits(link)) {
            return korvo_error(
                "handler name '%s' is too long to form a valid filesystem object name", old.get());
        }
        char target[KORVO_HANDLER_PATH_MAX];
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length < 0)
            korvo_log(LOG_LEVEL_WARNING, "Unable to fetch executable link target: %s",
                      std::strerror(errno));
        else
            newExecutable.assign(target, static_cast<std::size_t>(length));
    }
    korvo::MallocString storedContext;
    if (empty(context)) {
        storedContext.reset(get_handler_parameter(old.get(), "context"));
        if (storedContext == nullptr)
            return -1;
        context = storedContext.get();
    }
    HandlerNameParts oldParts;
    if (empty(priority)) {
        if (handler_name_split(old.get(), &oldParts) != 0)
            return -1;
        priority = oldParts.priority.c_str();
    }
    if (checkNewHandler(templ, type, value, newExecutable.c_str(), hook, priority) < 0)
        return -1;
    const int enabled = control_handler_queue(old.get(), nullptr, HANDLER_QUERY);
    if (enabled < 0 || mail_handler_remove(old.get()) != 0)
        return -1;
    return mail_handler_add(templ, type, value, newExecutable.c_str(), context, hook, priority,
                            enabled == 1 ? HANDLER_ENABLE : HANDLER_DISABLE);
}

int mail_handler_remove(const char* name) {
    if (!validName(name))
        return -1;
    const int disabled = control_handler_queue(name, nullptr, HANDLER_DISABLE);
    if (disabled != 0)
        return disabled;
    const std::string dir = infoDir + "/" + name;
    if (!handler_path_fits(dir)) {
        return korvo_error("handler name is too long to form a valid filesystem object name");
    }
    rm_tree(dir.c_str(), 1);
    handlers_sync();
    return 0;
}

namespace {

// 1 when the queue directory holds an entry, 0 when it is empty or missing.
int queueHasEntry(const std::string& queue) {
    const korvo::DirOwner dir(::opendir(queue.c_str()));
    if (dir.get() == nullptr) {
        if (errno == ENOENT)
            return 0;
        return korvo_error("Unable to open dir %s: %s", queue.c_str(), std::strerror(errno));
    }
    while (const dirent* entry = ::readdir(dir.get()))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            return 1;
    return 0;
}

} // namespace

int mail_handler_check_all(const char* address, const char* hook) {
    if (!is_path_component(address) || !is_path_component(hook)) {
        return korvo_error("Address '%s' or hook '%s' cannot name a queue directory",
                           handler_str(address), handler_str(hook));
    }
    const korvo::MallocString lower(strtolower_dynamic(address));
    if (lower == nullptr)
        return -1;
    const char* at = std::strrchr(lower.get(), '@');
    const char* domain = at != nullptr && is_path_component(at + 1) ? at + 1 : nullptr;
    const struct {
        const char* type;
        const char* value;
    } queues[] = {{"global", nullptr},
                  {"sender", lower.get()},
                  {"recipient", lower.get()},
                  {"sender-domain", domain},
                  {"recipient-domain", domain}};
    for (const auto& q : queues) {
        if (q.value == nullptr && std::strcmp(q.type, "global") != 0)
            continue;
        std::string queue = std::string(KORVO_HANDLERS_ROOT "/") + hook + "/" + q.type;
        if (q.value != nullptr)
            queue = queue + "/" + q.value;
        if (!handler_path_fits(queue)) {
            return korvo_error("Path %s/%s/%s/%s too long to be stored in the filesystem",
                               KORVO_HANDLERS_ROOT, hook, q.type, handler_str(q.value));
        }
        const int found = queueHasEntry(queue);
        if (found != 0)
            return found;
    }
    return 0;
}
