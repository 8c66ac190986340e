#include "mail/settings/CourierSettings.h"

#include "utils/Exceptions.h"
#include "utils/FdOwner.h"
#include "utils/FileCopy.h"
#include "utils/Locks.h"
#include "utils/Logging.h"
#include "utils/OrqConf.h"
#include "utils/ReplaceFile.h"
#include "utils/ServiceScripts.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const courierFiles[] = {"imapd", "imapd-ssl", "pop3d", "pop3d-ssl"};
constexpr std::size_t pathMax = 4096;

struct LockReleaser {
    void operator()(lock_struct_t* lock) const { rm_lock(lock); }
};

// errno of a failed system call, or of the exception that reported it.
int errorOf(const std::exception& e) {
    const auto* system = dynamic_cast<const korvo::SystemError*>(&e);
    return system != nullptr ? system->code() : errno;
}

void report(int error, const char* format, const std::string& path) {
    errno = error;
    messlog2(0, 0, format, path.c_str(), error != 0 ? std::strerror(error) : "");
}

class CourierRequest {
public:
    explicit CourierRequest(const courier_param_entry* entries) {
        for (; entries->name != nullptr; ++entries) {
            if (entries_.size() == COURIER_PARAMS_MAX) {
                tooMany_ = true;
                break;
            }
            entries_.push_back(*entries);
        }
    }

    bool tooMany() const { return tooMany_; }

    // The new content of a file whose content is old.
    std::string apply(const std::string& old) const {
        std::string out;
        std::set<std::string> occurred;
        std::string::size_type start = 0;
        while (start < old.size()) {
            std::string::size_type end = old.find('\n', start);
            end = end == std::string::npos ? old.size() : end + 1;
            applyLine(old.substr(start, end - start), &out, &occurred);
            start = end;
        }
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        for (const courier_param_entry& entry : entries_)
            if (entry.action == COURIER_PARAM_SET && *entry.name != '\0' &&
                occurred.insert(entry.name).second)
                out += assignment(entry);
        return out;
    }

private:
    static std::string assignment(const courier_param_entry& entry) {
        return std::string(entry.name) + "=" + (entry.value != nullptr ? entry.value : "") + "\n";
    }

    // The first entry whose NAME= begins line, or null.
    const courier_param_entry* entryOf(const std::string& line) const {
        for (const courier_param_entry& entry : entries_) {
            const std::size_t length = std::strlen(entry.name);
            if (length > 0 && line.size() > length && line[length] == '=' &&
                line.compare(0, length, entry.name) == 0)
                return &entry;
        }
        return nullptr;
    }

    void applyLine(const std::string& line, std::string* out,
                   std::set<std::string>* occurred) const {
        const courier_param_entry* entry = entryOf(line);
        if (entry == nullptr ||
            (entry->action != COURIER_PARAM_SET && entry->action != COURIER_PARAM_REMOVE)) {
            *out += line;
            return;
        }
        const bool first = occurred->insert(entry->name).second;
        if (entry->action == COURIER_PARAM_SET && first)
            *out += assignment(*entry);
    }

    std::vector<courier_param_entry> entries_;
    bool tooMany_ = false;
};

// Rewrites one settings file. 1 when it does not exist (skipped), 0 when
// rewritten, -1 after a message.
int rewriteFile(const std::string& path, const CourierRequest& request) {
    const std::unique_ptr<lock_struct_t, LockReleaser> lock(mk_lock(path.c_str(), 1));
    if (!is_locked(lock.get())) {
        report(errno, "Unable to lock %s: %s\n", path);
        return -1;
    }
    std::string old;
    {
        korvo::FdOwner in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (in.get() < 0) {
            report(errno, "Unable to open %s: %s\n", path);
            return 1;
        }
        if (!korvo::readAll(in.get(), old)) {
            report(errno, "Unable to write temporary file content for %s: %s\n", path);
            return -1;
        }
    }
    // The settings hold what Courier is told about relaying and logins: the
    // rewritten file is the tool's own (the creator's user and group),
    // readable by nobody else, whatever the old one allowed.
    korvo::ReplaceOptions options;
    options.mode = 0600;
    options.resolveTargetLink = true;
    std::unique_ptr<korvo::ReplaceFile> out;
    try {
        out = std::make_unique<korvo::ReplaceFile>(path, options);
    } catch (const std::exception& e) {
        report(errorOf(e), "Unable to create temporary file for %s: %s\n", path);
        return -1;
    }
    try {
        out->write(request.apply(old));
    } catch (const std::exception& e) {
        report(errorOf(e), "Unable to write temporary file content for %s: %s\n", path);
        return -1;
    }
    try {
        out->commit();
    } catch (const std::exception& e) {
        report(errorOf(e), "Unable to move changed file to its location %s: %s\n", path);
        return -1;
    }
    return 0;
}

} // namespace

int set_courier_params_list(const courier_param_entry* entries) {
    const CourierRequest request(entries);
    if (request.tooMany()) {
        errno = 0;
        messlog2(0, 0, "Too many variables specified, tail is ignored\n");
    }
    std::string root = orqConfGetDefaultByIndex(COURIER_IMAP_ROOT_D);
    if (root.empty() || root.back() != '/')
        root += '/';
    for (const char* file : courierFiles) {
        const std::string path = root + "etc/courier-imap/" + file;
        if (path.size() >= pathMax) {
            errno = 0;
            messlog2(0, 0, "File path too long %s\n", path.c_str());
            return -1;
        }
        if (rewriteFile(path, request) < 0)
            return -1;
    }
    return restart_daemon("courier-imap", "restart");
}

namespace {

courier_param_entry flagEntry(const char* name, int flag, const char* value) {
    return {name, flag != 0 ? COURIER_PARAM_SET : COURIER_PARAM_REMOVE, value};
}

} // namespace

int set_courier_params(int relayclient, int popauth, int poplockTime, int shortnames) {
    const int lockTime = static_cast<std::int16_t>(poplockTime);
    const std::string lockText = std::to_string(lockTime);
    std::vector<courier_param_entry> entries = {
        flagEntry("RELAYCLIENT", relayclient, ""),
        flagEntry("POPAUTH", popauth, "1"),
        flagEntry("SHORTNAMES", shortnames, "1"),
    };
    if (lockTime >= 0)
        entries.push_back(flagEntry("POPLOCK_TIME", lockTime, lockText.c_str()));
    entries.push_back({nullptr, 0, nullptr});
    return set_courier_params_list(entries.data());
}

int set_courier_shortnames_params(int shortnames) {
    const courier_param_entry entries[] = {flagEntry("SHORTNAMES", shortnames, "1"),
                                           {nullptr, 0, nullptr}};
    return set_courier_params_list(entries);
}
