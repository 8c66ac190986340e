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

// What postconf prints for one parameter with the given call form, trimmed.
std::string readParameter(const utilities::ProcessParameters& command) {
    process::Pipe pipe(command);
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

// The value postconf prints with -h (and -d for the built-in default).
std::string readParameter(const std::string& name, bool useDefault) {
    return readParameter(useDefault ? utilities::postconfDefault(name)
                                    : utilities::postconfValue(name));
}

// The local networks that stand in for Postfix's computed mynetworks
// default: loopback plus the host's first IPv4 address, and IPv6 loopback
// when Postfix trusts it now. Without a usable address the loopback
// network stands alone.
std::string localNetworks(const std::string& live) {
    std::string networks = "127.0.0.0/8";
    const std::unique_ptr<ifaceinfo, void (*)(ifaceinfo*)> interfaces(get_ifaceinfo(nullptr),
                                                                      free_ifaceinfo);
    if (interfaces && interfaces->name[0] != '\0' && interfaces->ip[0] != '\0')
        networks += std::string(listSeparator) + interfaces->ip + "/32";
    if (live.find("[::1]/128") != std::string::npos)
        networks += std::string(listSeparator) + "[::1]/128";
    return networks;
}

// postconf -d computes the default as compatibility level 0 would, which
// differs from the value Postfix uses for an unset mynetworks; so an unset
// parameter is recognised by "postconf -n", and only a configured value
// that spells out postconf's computed default (C equal to D, or D followed
// by more networks) has that part replaced.
std::string rewriteMynetworks(const std::string& live) {
    const std::string configured = readParameter(utilities::postconfConfigured(mynetworks));
    if (configured.empty())
        return localNetworks(live);
    const std::string computed = readParameter(mynetworks, true);
    const std::string::size_type at =
        computed.empty() ? std::string::npos : configured.find(computed);
    if (at == std::string::npos)
        return configured;
    return localNetworks(live) + configured.substr(at + computed.size());
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
    if (name != mynetworks)
        return value;
    // The default is postconf's computed value itself: always the stand-in.
    return useDefault ? localNetworks(value) : rewriteMynetworks(value);
}

void MainCfManager::writeValue(const std::string& name, const std::string& value) const {
    process::Pipe pipe(utilities::postconfSet(name, value));
    std::string errorText;
    if (!utilities::exitedSuccessfully(utilities::runCollectingErrors(pipe, errorText)))
        postconfFailed(errorText);
}

void MainCfManager::replaceStringValue(const std::string& name, const std::string& value) const {
    const MKLock lock(mainCfPath, MKLock::LOCK_BY_DIGEST, MKLock::BLOCK);
    writeValue(name, value);
}

void MainCfManager::editValue(const std::string& name, const ValueEdit& edit) const {
    const MKLock lock(mainCfPath, MKLock::LOCK_BY_DIGEST, MKLock::BLOCK);
    std::string value = getStringValue(name, false);
    if (edit(value))
        writeValue(name, value);
}

void MainCfManager::appendStringValue(const std::string& name, const std::string& element) const {
    editValue(name, [&name, &element](std::string& value) {
        const std::vector<std::string> elements = splitWords(value);
        if (contains(elements, element))
            // Pins a rewritten default down as an explicit setting.
            return name == mynetworks;
        value = elements.empty() ? element : value + listSeparator + element;
        return true;
    });
}

void MainCfManager::appendCompoundStringValue(const std::string& name, const std::string& key,
                                              const std::string& value) const {
    const std::string item = key + " " + value;
    editValue(name, [&item](std::string& current) {
        std::vector<std::string> items = splitListItems(current);
        if (contains(items, boost::algorithm::trim_copy(item)))
            return false;
        items.push_back(item);
        current = boost::algorithm::join(items, listSeparator);
        return true;
    });
}

void MainCfManager::removeListElement(const std::string& name, const std::string& element) const {
    editValue(name, [&element](std::string& value) {
        std::vector<std::string> elements = splitWords(value);
        const auto kept = std::remove(elements.begin(), elements.end(), element);
        if (kept == elements.end())
            return false;
        elements.erase(kept, elements.end());
        value = boost::algorithm::join(elements, listSeparator);
        return true;
    });
}

} // namespace korvo::mail::postfix
