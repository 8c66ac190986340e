#include "utils/ProcessIteration.h"

#include "utils/DirOwner.h"
#include "utils/Logging.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// What one process's files said, kept alive while the callback runs.
struct ProcessRecord {
    KorvoProcessInfo info{};
    std::string procname;
    std::string exename;
    std::string cmdline;
    std::vector<const char*> argv;
};

std::string procFile(pid_t pid, const char* name) {
    return "/proc/" + std::to_string(pid) + "/" + name;
}

// The process id an entry of /proc stands for, or 0 when it is no process.
pid_t processEntry(const dirent* entry) {
    const char* name = entry->d_name;
    pid_t pid = 0;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9' || pid > 100000000)
            return 0;
        pid = pid * 10 + (*name - '0');
    }
    if (pid == 0)
        return 0;
    if (entry->d_type == DT_DIR)
        return pid;
    struct stat status;
    const bool isDirectory = entry->d_type == DT_UNKNOWN &&
                             ::stat(procFile(pid, "").c_str(), &status) == 0 &&
                             S_ISDIR(status.st_mode);
    return isDirectory ? pid : 0;
}

bool readWhole(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool readExeName(ProcessRecord& record) {
    const std::string link = procFile(record.info.pid, "exe");
    std::vector<char> target(256);
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
        if (length < 0)
            return false;
        if (static_cast<std::size_t>(length) < target.size()) {
            record.exename.assign(target.data(), static_cast<std::size_t>(length));
            record.info.exename = record.exename.c_str();
            return true;
        }
        target.resize(target.size() * 2);
    }
}

bool readArgv(ProcessRecord& record) {
    if (!readWhole(procFile(record.info.pid, "cmdline"), record.cmdline))
        return false;
    for (std::size_t start = 0; start < record.cmdline.size();) {
        const std::size_t end = record.cmdline.find('\0', start);
        record.argv.push_back(record.cmdline.c_str() + start);
        start = end == std::string::npos ? record.cmdline.size() : end + 1;
    }
    record.argv.push_back(nullptr);
    record.info.argv = record.argv.data();
    return true;
}

// The name is read as one word after "(" and loses its last character, the
// closing parenthesis; a name with a blank in it does not fit the pattern.
bool readStat(ProcessRecord& record, int flags) {
    std::string stat;
    if (!readWhole(procFile(record.info.pid, "stat"), stat))
        return false;
    std::vector<char> name(4097);
    int ppid = -1;
    if (std::sscanf(stat.c_str(), "%*d (%4096s %*c %d", name.data(), &ppid) != 2)
        return false;
    if (flags & KORVO_PROCESS_INFO_GET_PPID)
        record.info.ppid = ppid;
    if (flags & KORVO_PROCESS_INFO_GET_PROCNAME) {
        record.procname = name.data();
        record.procname.pop_back();
        record.info.procname = record.procname.c_str();
    }
    return true;
}

// Real, effective and saved ids from the "Uid:" and "Gid:" lines.
bool readIds(ProcessRecord& record, int flags) {
    std::ifstream in(procFile(record.info.pid, "status"));
    bool uidsFound = false;
    bool gidsFound = false;
    std::string word;
    while ((!uidsFound || !gidsFound) && in >> word) {
        unsigned long real = 0, effective = 0, saved = 0, filesystem = 0;
        const bool isUid = word == "Uid:";
        if ((!isUid && word != "Gid:") || !(in >> real >> effective >> saved >> filesystem))
            continue;
        if (isUid && (flags & KORVO_PROCESS_INFO_GET_UID)) {
            record.info.ruid = static_cast<uid_t>(real);
            record.info.euid = static_cast<uid_t>(effective);
            record.info.suid = static_cast<uid_t>(saved);
        }
        if (!isUid && (flags & KORVO_PROCESS_INFO_GET_GID)) {
            record.info.rgid = static_cast<gid_t>(real);
            record.info.egid = static_cast<gid_t>(effective);
            record.info.sgid = static_cast<gid_t>(saved);
        }
        (isUid ? uidsFound : gidsFound) = true;
    }
    return uidsFound && gidsFound;
}

// Fills what flags ask for; false when the process cannot be read.
bool readProcess(ProcessRecord& record, int flags) {
    if ((flags & KORVO_PROCESS_INFO_GET_EXENAME) && !readExeName(record))
        return false;
    if ((flags & KORVO_PROCESS_INFO_GET_ARGV) && !readArgv(record))
        return false;
    if ((flags & (KORVO_PROCESS_INFO_GET_PPID | KORVO_PROCESS_INFO_GET_PROCNAME)) &&
        !readStat(record, flags))
        return false;
    if ((flags & (KORVO_PROCESS_INFO_GET_UID | KORVO_PROCESS_INFO_GET_GID)) &&
        !readIds(record, flags))
        return false;
    return true;
}

KorvoProcessInfo emptyInfo(pid_t pid) {
    const auto noUid = static_cast<uid_t>(-1);
    const auto noGid = static_cast<gid_t>(-1);
    return KorvoProcessInfo{pid,   -1,    noUid,   noGid,   noUid,  noGid,
                            noUid, noGid, nullptr, nullptr, nullptr};
}

} // namespace

int iterateProcesses(int flags, visitProcessInfoFunc callback, void* context) {
    const korvo::DirOwner proc(::opendir("/proc"));
    if (proc.get() == nullptr) {
        return korvo_error("unable to open /proc filesystem: %s\n", std::strerror(errno));
    }
    int result = 1;
    while (const dirent* entry = ::readdir(proc.get())) {
        const pid_t pid = processEntry(entry);
        if (pid == 0)
            continue;
        ProcessRecord record;
        record.info = emptyInfo(pid);
        if (!readProcess(record, flags))
            continue;
        result = callback(&record.info, context);
        if (result <= 0)
            break;
    }
    return result;
}
