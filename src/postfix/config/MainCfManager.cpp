#include "postfix/config/MainCfManager.h"

#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/PostfixUtilities.h"
#include "process/DescriptorSpec.h"
#include "process/MKLock.h"
#include "process/Pipe.h"
#include "utils/Exceptions.h"
#include "utils/IfaceInfo.h"

#include <algorithm>
#include <boost/algorithm/string.hpp>
#include <memory>
#include <vector>

namespace korvo::mail::postfix {

namespace {

const char* const mynetworks = "mynetworks";
// What a write puts between list elements.
const char* const listSeparator = ", ";

[[noreturn]] void postconfFailed(const std::string& errorText) {
    throw PostfixConfigurationError(utilities::errorMessage(errorText));
}

// The value postconf prints with -h (and -d for the built-in default).
std::string readParameter(const std::string& name, bool useDefault) {
    process::Pipe pipe(useDefault ? utilities::postconfDefault(name)
                                  : utilities::postconfValue(name));
    std::string output;
    pipe.flags.stdoutChannel.fd = process::FD_PIPE;
    pipe.flags.stdoutChannel.function = process::makeStringReceiver(output);
    std::string errorText;
    if (!utilities::exitedSuccessfully(utilities::runCollectingErrors(pipe, errorText)))
        postconfFailed(errorText);
    // postconf only warns about an unknown parameter; that reads as empty.
    if (output.empty() && !checkOutput(errorText))
        postconfFailed(errorText);
    boost::algorithm::trim(output);
    return output;
}

// The local networks that stand in for Postfix's computed mynetworks
// default: loopback plus the host's first IPv4 address. Without a usable
// address the loopback network stands alone.
std::string localNetworks() {
    std::string networks = "127.0.0.0/8";
    const std::unique_ptr<ifaceinfo, void (*)(ifaceinfo*)> interfaces(get_ifaceinfo(nullptr),
                                                                      free_ifaceinfo);
    if (interfaces && interfaces->name[0] != '\0' && interfaces->ip[0] != '\0')
        networks += std::string(listSeparator) + interfaces->ip + "/32";
    return networks;
}

// Replaces the computed default D inside the configured value C.
std::string rewriteMynetworks(const std::string& configured) {
    const std::string computed = readParameter(mynetworks, true);
    if (configured == computed || computed.size() > configured.size())
        return localNetworks();
    const std::string::size_type at = configured.find(computed);
    if (at == std::string::npos)
        return configured;
    return localNetworks() + configured.substr(at + computed.size());
}

// Elements of a list whose separators are blanks, tabs and commas.
std::vector<std::string> splitWords(const std::string& value) {
    std::vector<std::string> words;
    boost::algorithm::split(words, value, boost::algorithm::is_any_of(" \t,"),
                            boost::algorithm::token_compress_on);
    words.erase(std::remove(words.begin(), words.end(), std::string()), words.end());
    return words;
}

bool contains(const std::vector<std::string>& list, const std::string& element) {
    return std::find(list.begin(), list.end(), element) != list.end();
}

} // namespace

std::vector<std::string> splitListItems(const std::string& value) {
    std::vector<std::string> items;
    if (value.empty())
        return items;
    boost::algorithm::split(items, value, boost::algorithm::is_any_of(","),
                            boost::algorithm::token_compress_on);
    for (std::string& item : items)
        boost::algorithm::trim(item);
    items.erase(std::remove(items.begin(), items.end(), std::string()), items.end());
    return items;
}

MainCfManager& MainCfManager::getInstance() {
    static MainCfManager theManager;
    return theManager;
}

MainCfManager::MainCfManager() {
    std::string directory;
    try {
        directory = getStringValue("config_directory", false);
    } catch (const PostfixConfigurationError&) {
        directory = getStringValue("config_directory", true);
    }
    if (directory.empty())
        throw PostfixConfigurationError("unable to determine Postfix config_directory parameter");
    mainCfPath = directory + "/main.cf";
}

std::string MainCfManager::getStringValue(const std::string& name, bool useDefault) const {
    const std::string value = readParameter(name, useDefault);
    return name == mynetworks ? rewriteMynetworks(value) : value;
}

void MainCfManager::replaceStringValue(const std::string& name, const std::string& value) const {
    process::Pipe pipe(utilities::postconfSet(name, value));
    std::string errorText;
    int status;
    {
        const MKLock lock(mainCfPath, MKLock::LOCK_BY_DIGEST, MKLock::BLOCK);
        status = utilities::runCollectingErrors(pipe, errorText);
    }
    if (!utilities::exitedSuccessfully(status))
        postconfFailed(errorText);
}

void MainCfManager::appendStringValue(const std::string& name, const std::string& element) const {
    const std::string value = getStringValue(name, false);
    const std::vector<std::string> elements = splitWords(value);
    if (contains(elements, element)) {
        // Pins a rewritten default down as an explicit setting.
        if (name == mynetworks)
            replaceStringValue(name, value);
        return;
    }
    replaceStringValue(name, elements.empty() ? element : value + listSeparator + element);
}

void MainCfManager::appendCompoundStringValue(const std::string& name, const std::string& key,
                                              const std::string& value) const {
    const std::string item = key + " " + value;
    std::vector<std::string> items = splitListItems(getStringValue(name, false));
    if (contains(items, boost::algorithm::trim_copy(item)))
        return;
    items.push_back(item);
    replaceStringValue(name, boost::algorithm::join(items, listSeparator));
}

void MainCfManager::removeListElement(const std::string& name, const std::string& element) const {
    std::vector<std::string> elements = splitWords(getStringValue(name, false));
    const auto kept = std::remove(elements.begin(), elements.end(), element);
    if (kept == elements.end())
        return;
    elements.erase(kept, elements.end());
    replaceStringValue(name, boost::algorithm::join(elements, listSeparator));
}

} // namespace korvo::mail::postfix
