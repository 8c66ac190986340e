#include "setup/MainCfSetup.h"

#include "utils/Exceptions.h"
#include "postfix/tables/PostfixUtilities.h"
#include "postfix/tables/Tables.h"
#include "process/DescriptorSpec.h"
#include "process/Pipe.h"
#include "setup/SetupPaths.h"

#include <algorithm>
#include <boost/algorithm/string.hpp>
#include <map>
#include <sstream>

namespace korvo::setup {

namespace tables = mail::postfix::tables;
namespace utilities = mail::postfix::utilities;

namespace {

using Values = std::map<std::string, std::string>;

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    boost::algorithm::split(result, text, boost::algorithm::is_any_of(" \t\r\n,"),
                            boost::algorithm::token_compress_on);
    result.erase(std::remove(result.begin(), result.end(), std::string()), result.end());
    return result;
}

// What one postconf run with these arguments prints on stdout. Its warnings
// (an unused or unknown parameter) do not matter; a failed run does.
std::string postconf(const std::vector<std::string>& arguments) {
    process::Pipe pipe(utilities::ProcessParameters::ofArguments(utilities::POSTCONF, arguments));
    std::string output;
    pipe.flags.stdoutChannel.fd = process::FD_PIPE;
    pipe.flags.stdoutChannel.function = process::makeStringReceiver(output);
    std::string errors;
    if (!utilities::exitedSuccessfully(utilities::runCollectingErrors(pipe, errors)))
        throw mail::postfix::PostfixConfigurationError(utilities::errorMessage(errors));
    return output;
}

// "name = value" lines as postconf prints them (continuation lines already
// joined) into a map.
Values parseAssignments(const std::string& output) {
    Values values;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const std::string::size_type equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        values[boost::algorithm::trim_copy(line.substr(0, equals))] =
            boost::algorithm::trim_copy(line.substr(equals + 1));
    }
    return values;
}

std::string askConfigDirectory() {
    std::string directory = postconf({"-h", "config_directory"});
    boost::algorithm::trim(directory);
    if (directory.empty())
        throw mail::postfix::PostfixConfigurationError(
            "unable to determine Postfix config_directory parameter");
    return directory;
}

// main.cf's own settings, and for the list parameters it leaves unset the
// built-in defaults the new items are appended to.
Values currentValues(const std::vector<MainCfSetting>& wanted) {
    Values values = parseAssignments(postconf({"-n"}));
    std::vector<std::string> defaults = {"-d"};
    for (const MainCfSetting& setting : wanted)
        if (setting.kind == MainCfSetting::ListItem && values.count(setting.name) == 0 &&
            std::find(defaults.begin(), defaults.end(), setting.name) == defaults.end())
            defaults.push_back(setting.name);
    if (defaults.size() > 1)
        values.merge(parseAssignments(postconf(defaults)));
    return values;
}

// What became of one setting: the change to report, or why it was not made.
struct Judgement {
    std::string change;
    std::string refusal;
    std::string note;
};

Judgement changed(const std::string& change) {
    return {change, "", ""};
}
Judgement refused(const std::string& refusal) {
    return {"", refusal, ""};
}
Judgement kept(const std::string& note) {
    return {"", "", note};
}

Judgement judgeListItem(const MainCfSetting& setting, const std::string& current, Values& values) {
    if (listHoldsItem(current, setting.value))
        return {};
    values[setting.name] = current + (current.empty() ? "" : ", ") + setting.value;
    return changed("main.cf: " + setting.name + ": added " + setting.value);
}

Judgement assign(const MainCfSetting& setting, const std::string& value, const std::string& current,
                 Values& values, const std::string& why = "") {
    values[setting.name] = value;
    return changed("main.cf: " + setting.name + " = " + value +
                   (current.empty() ? "" : " (was \"" + current + "\")") + why);
}

// A preferred setting steps aside for the parameter it yields to, even when
// an earlier run made it: that parameter was set since.
Judgement judgePreferred(const MainCfSetting& setting, const std::string& current,
                         bool someoneElses, Values& values) {
    const std::string forced = " (--force sets \"" + setting.value + "\")";
    const auto yielded = values.find(setting.yieldsTo);
    const bool yields = yielded != values.end() && !yielded->second.empty();
    if (someoneElses)
        return kept("main.cf: " + setting.name + " is \"" + current + "\": " + setting.keptMeans +
                    forced);
    if (yields && current == setting.value)
        return assign(setting, setting.builtIn, current, values,
                      ": " + setting.yieldsTo + " is set, and " + setting.keptMeans);
    if (yields)
        return kept("main.cf: " + setting.yieldsTo + " is set: " + setting.name + " stays \"" +
                    current + "\": " + setting.keptMeans + forced);
    if (current == setting.value)
        return {};
    return assign(setting, setting.value, current, values);
}

// Applies one setting to values: the change to report, none when there is
// nothing to change or the setting is refused or kept.
Judgement judge(const MainCfSetting& setting, bool force, Values& values) {
    const auto found = values.find(setting.name);
    const bool configured = found != values.end();
    if (setting.kind == MainCfSetting::ListItem)
        return judgeListItem(setting, configured ? found->second : std::string(), values);
    const std::string current = configured ? found->second : setting.builtIn;
    const bool someoneElses = configured && current != setting.builtIn && current != setting.value;
    if (setting.kind == MainCfSetting::Preferred && !force)
        return judgePreferred(setting, current, someoneElses, values);
    if (current == setting.value)
        return {};
    if (someoneElses && !force)
        return refused("main.cf: " + setting.name + " is \"" + current + "\" (--force sets \"" +
                       setting.value + "\")");
    return assign(setting, setting.value, current, values);
}

} // namespace

const char* const remoteHandlersSkipped =
    "mail it routes to other hosts does not pass the before-remote handlers";

std::vector<MainCfSetting> wantedMainCfSettings() {
    using Kind = MainCfSetting::Kind;
    return {
        {"virtual_mailbox_domains", tables::VIRTUAL_DOMAINS, Kind::Owned},
        {"virtual_mailbox_maps", tables::VMAILBOX, Kind::Owned},
        {"virtual_transport", TRANSPORT, Kind::Owned},
        // The agent carries out one recipient's .qmail per run.
        {std::string(TRANSPORT) + "_destination_recipient_limit", "1", Kind::Owned},
        {"virtual_alias_maps", tables::VIRTUAL, Kind::ListItem},
        // The domains' bounce programs are local aliases.
        {"alias_maps", tables::ALIASES, Kind::ListItem},
        {"smtpd_sender_restrictions", std::string("check_sender_access ") + tables::BLACKLISTS,
         Kind::ListItem},
        // Standard addresses and bounce aliases are delivered locally there.
        {"mydestination", "localhost.localdomain", Kind::ListItem},
        // Mail for other hosts passes the before-remote handlers on its way
        // to $relayhost or the recipient's domain; a per-sender relay host
        // it would bypass.
        {"default_transport", REMOTE_TRANSPORT, Kind::Preferred, "smtp",
         "sender_dependent_relayhost_maps", remoteHandlersSkipped},
        {"relay_transport", REMOTE_TRANSPORT, Kind::Preferred, "relay",
         "sender_dependent_relayhost_maps", remoteHandlersSkipped},
    };
}

bool listHoldsItem(const std::string& list, const std::string& item) {
    const std::vector<std::string> have = words(list);
    const std::vector<std::string> want = words(item);
    return !want.empty() &&
           std::search(have.begin(), have.end(), want.begin(), want.end()) != have.end();
}

MainCfChanges::MainCfChanges(bool force) : MainCfChanges(force, askConfigDirectory()) {}

MainCfChanges::MainCfChanges(bool force, const std::string& directory)
    : configDirectory_(directory), lock_(directory + "/main.cf") {
    const std::vector<MainCfSetting> wanted = wantedMainCfSettings();
    read_ = currentValues(wanted);
    values_ = read_;
    for (const MainCfSetting& setting : wanted)
        add(setting, force);
}

void MainCfChanges::add(const MainCfSetting& setting, bool force) {
    const Judgement judgement = judge(setting, force, values_);
    if (!judgement.refusal.empty())
        refusals_.push_back(judgement.refusal);
    if (!judgement.note.empty())
        notes_.push_back(judgement.note);
    if (judgement.change.empty())
        return;
    changes_.push_back(judgement.change);
    if (std::find(changedNames_.begin(), changedNames_.end(), setting.name) ==
        changedNames_.end())
        changedNames_.push_back(setting.name);
}

std::string MainCfChanges::configured(const std::string& name) const {
    const auto found = read_.find(name);
    return found == read_.end() ? "" : found->second;
}

void MainCfChanges::write(SetupReport& report) const {
    if (changedNames_.empty())
        return;
    std::vector<std::string> arguments = {"-e"};
    for (const std::string& name : changedNames_)
        arguments.push_back(name + "=" + values_.at(name));
    postconf(arguments);
    for (const std::string& change : changes_)
        report.changed(change);
}

} // namespace korvo::setup
