#include "handlers/HandlerQueues.h"

#include "mail/handlers/HandlerNames.h"
#include "utils/DirOwner.h"
#include "utils/Exceptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <memory>
#include <set>
#include <unistd.h>

namespace korvo::handlers {

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool usableAsQueueName(const std::string& value) {
    return !value.empty() && value != "." && value != ".." && value.find('/') == std::string::npos;
}

std::string domainOf(const std::string& address) {
    const std::string::size_type at = address.rfind('@');
    return at == std::string::npos ? std::string() : address.substr(at + 1);
}

// Adds the entries of one queue directory to names.
void readQueue(const std::string& queue, std::set<std::string>& names) {
    const DirOwner dir(::opendir(queue.c_str()));
    if (dir.get() == nullptr) {
        if (errno == ENOENT || errno == ENOTDIR)
            return;
        throwSystemError("open the handler queue " + queue, errno);
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.insert(name);
        errno = 0;
    }
    if (errno != 0)
        throwSystemError("read the handler queue " + queue, errno);
}

void readAddressQueues(const std::string& hookDir, const std::string& type,
                       const std::string& address, std::set<std::string>& names) {
    const std::string value = lowerCase(address);
    if (usableAsQueueName(value))
        readQueue(hookDir + "/" + type + "/" + value, names);
    const std::string domain = domainOf(value);
    if (usableAsQueueName(domain))
        readQueue(hookDir + "/" + type + "-domain/" + domain, names);
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT)
            return "";
        throwSystemError("read " + path, errno);
    }
    std::string line;
    std::getline(in, line);
    const std::string::size_type end = line.find_last_not_of(" \t\r");
    if (end == std::string::npos)
        return "";
    const std::string::size_type begin = line.find_first_not_of(" \t");
    return line.substr(begin, end - begin + 1);
}

std::string linkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    return length < 0 ? std::string() : std::string(target, static_cast<std::size_t>(length));
}

} // namespace

std::vector<Handler> applicableHandlers(const std::string& root, const std::string& hook,
                                        const MessageParties& parties) {
    const std::string hookDir = root + "/" + hook;
    std::set<std::string> names;
    readQueue(hookDir + "/global", names);
    readAddressQueues(hookDir, "sender", parties.sender, names);
    for (const std::string& recipient : parties.recipients)
        readAddressQueues(hookDir, "recipient", recipient, names);

    std::vector<std::string> ordered(names.begin(), names.end());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const std::string& a, const std::string& b) {
                         return handlers_compare(a.c_str(), b.c_str()) < 0;
                     });
    std::vector<Handler> handlers;
    for (const std::string& name : ordered) {
        const std::string info = root + "/info/" + name;
        handlers.push_back({name, linkTarget(info + "/executable"), firstLine(info + "/context")});
    }
    return handlers;
}

} // namespace korvo::handlers
