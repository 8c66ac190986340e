#include "front/HandlerCommands.h"

#include "front/CommandOptions.h"
#include "front/LibraryResult.h"
#include "front/NameChecks.h"
#include "front/ProgramOptionsHelper.h"
#include "mail/handlers/HandlerRegistry.h"
#include "mail/handlers/MailHandlers.h"
#include "mail/handlers/MassHandlers.h"
#include "utils/ErrorStream.h"
#include "utils/Exceptions.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

namespace {

#define HANDLER_NAME_AND_TYPE                                                                      \
    "--handler-name=<name> "                                                                       \
    "--handler-type=(global|sender|recipient|sender-domain|recipient-domain)"
#define HANDLER_HOOK "--hook=(before-queue|before-local|before-remote)"
#define HANDLER_PROGRAM "--executable=<handler> --context=<context>"

const char selectSyntax[] = " " HANDLER_NAME_AND_TYPE " [--handler-type-name=<mailname>]";
const char hookSyntax[] = " " HANDLER_HOOK;
const char missingHandler[] = "Handler %s for %s %s does not exist in queue %s";

// One command's handler options, checked.
struct HandlerRequest {
    std::string name;
    std::string type;
    std::string hook;
    std::optional<std::string> typeName;
    std::string executable;
    std::string context;
    std::string priority;

    bool global() const { return type == "global"; }
};

void checkPriority(const std::string& priority) {
    if (priority.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument("--priority: '" + priority + "' holds a non-digit");
}

// withProgram: the add and update options (executable, context, priority).
HandlerRequest parseHandler(int argc, char** argv, const char* description, const char* word,
                            bool withProgram) {
    const std::string syntax =
        word + std::string(selectSyntax) +
        (withProgram ? " " HANDLER_PROGRAM + std::string(hookSyntax) + " --priority=<number>"
                     : std::string(hookSyntax));
    ProgramOptionsHelper helper(description, syntax);
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("handler-name", po::value<std::string>(), "handler name",
            true)("handler-type", po::value<std::string>(),
                  "handler type (global|sender|recipient|sender-domain|recipient-domain)",
                  true)("handler-type-name", po::value<std::string>(), "handler type name", false);
    if (withProgram)
        declare("executable", po::value<std::string>(), "executable",
                true)("context", po::value<std::string>(), "context", true);
    declare("hook", po::value<std::string>(),
            "hook point (before-queue|before-local|before-remote)", true);
    if (withProgram)
        declare("priority", po::value<std::string>(), "handler priority", true);
    standardOptionsParse(helper, argc, argv);

    HandlerRequest request{stringOption(helper, "handler-name"),
                           stringOption(helper, "handler-type"),
                           stringOption(helper, "hook"),
                           std::nullopt,
                           {},
                           {},
                           {}};
    if (hasOption(helper, "handler-type-name"))
        request.typeName = stringOption(helper, "handler-type-name");
    if (withProgram) {
        request.executable = stringOption(helper, "executable");
        request.context = stringOption(helper, "context");
        request.priority = stringOption(helper, "priority");
    }
    // The template and the hook become parts of registry paths.
    checkFileName(request.name, "--handler-name");
    checkFileName(request.hook, "--hook");
    checkSingleLine(request.executable, "--executable");
    checkSingleLine(request.context, "--context");
    checkPriority(request.priority);
    return request;
}

const std::string& requireTypeName(const HandlerRequest& request) {
    if (!request.typeName)
        throw MissingMandatoryOption("handler-type-name");
    return *request.typeName;
}

// The address or domain a handler is bound to, in its checked ASCII form.
std::string boundValue(const std::string& type, const std::string& value) {
    const char option[] = "--handler-type-name";
    switch (handler_type_index(type.c_str())) {
    case HANDLER_TYPE_SENDER:
    case HANDLER_TYPE_RECIPIENT:
        return asciiAddress(value, option);
    case HANDLER_TYPE_SENDER_DOMAIN:
    case HANDLER_TYPE_RECIPIENT_DOMAIN:
        return asciiDomainName(value, option);
    default:
        // The registry refuses the type; the value must still be harmless.
        checkFileName(value, option);
        return value;
    }
}

// Every address or domain of the list: split at commas and blanks, each
// separator counting, empty pieces skipped; all checked before any is used.
std::vector<std::string> boundValues(const HandlerRequest& request) {
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, requireTypeName(request), boost::algorithm::is_any_of(", "));
    std::vector<std::string> values;
    for (const std::string& piece : pieces)
        if (!piece.empty())
            values.push_back(boundValue(request.type, piece));
    return values;
}

korvo::MallocString findHandler(const HandlerRequest& request, const char* value) {
    return korvo::MallocString(
        get_handler_name(request.name.c_str(), request.type.c_str(), value, request.hook.c_str()));
}

void logMissing(const HandlerRequest& request, const std::string& value) {
    korvo_log(LOG_LEVEL_WARNING, missingHandler, request.name.c_str(), request.type.c_str(),
              value.c_str(), request.hook.c_str());
}

int addOne(const HandlerRequest& request, const char* value) {
    return mail_handler_add(request.name.c_str(), request.type.c_str(), value,
                            request.executable.c_str(), request.context.c_str(),
                            request.hook.c_str(), request.priority.c_str(), HANDLER_ENABLE);
}

int updateOne(const HandlerRequest& request, const char* value) {
    return mail_handler_update(request.name.c_str(), request.type.c_str(), value,
                               request.executable.c_str(), request.context.c_str(),
                               request.hook.c_str(), request.priority.c_str());
}

// remove, enable and disable: one queue action on each handler found.
int controlHandlers(int argc, char** argv, const char* description, const char* word, int action) {
    const HandlerRequest request = parseHandler(argc, argv, description, word, false);
    const auto apply = [action](const char* found) {
        return action == HANDLER_REMOVE ? mail_handler_remove(found)
                                        : control_handler_queue(found, nullptr, action);
    };
    if (request.global()) {
        const korvo::MallocString found = findHandler(request, nullptr);
        return found && failed(apply(found.get())) ? 1 : 0;
    }
    if (requireTypeName(request) == "all") {
        mass_control_handler_queue(request.name.c_str(), action);
        return 0;
    }
    int status = 0;
    for (const std::string& value : boundValues(request)) {
        const korvo::MallocString found = findHandler(request, value.c_str());
        if (!found)
            logMissing(request, value);
        else if (failed(apply(found.get())))
            status = 1;
    }
    return status;
}

int addHandler(int argc, char** argv) {
    const HandlerRequest request =
        parseHandler(argc, argv, "add a mail-handler", addHandlerCommand.name, true);
    if (request.global())
        return statusOf(addOne(request, nullptr));
    int status = 0;
    for (const std::string& value : boundValues(request))
        if (!findHandler(request, value.c_str()) && failed(addOne(request, value.c_str())))
            status = 1;
    return status;
}

int updateHandler(int argc, char** argv) {
    const HandlerRequest request =
        parseHandler(argc, argv, "update a given mail-handler", updateHandlerCommand.name, true);
    if (request.global())
        return statusOf(updateOne(request, nullptr));
    int status = 0;
    for (const std::string& value : boundValues(request)) {
        if (!findHandler(request, value.c_str()))
            logMissing(request, value);
        else if (failed(updateOne(request, value.c_str())))
            status = 1;
    }
    return status;
}

int removeHandler(int argc, char** argv) {
    return controlHandlers(argc, argv, "remove a mail-handler", removeHandlerCommand.name,
                           HANDLER_REMOVE);
}

int disableHandler(int argc, char** argv) {
    return controlHandlers(argc, argv, "disable a mail-handler", disableHandlerCommand.name,
                           HANDLER_DISABLE);
}

int enableHandler(int argc, char** argv) {
    return controlHandlers(argc, argv, "enable a mail-handler", enableHandlerCommand.name,
                           HANDLER_ENABLE);
}

// The panel reads the status the other way round: 1 when the handler exists.
// A value the checks refuse names no handler: it is reported, and "not
// found", never the status 1 of an escaping error.
int checkHandler(int argc, char** argv) {
    const HandlerRequest request =
        parseHandler(argc, argv, "check a mail-handler", checkHandlerCommand.name, false);
    if (request.global())
        return findHandler(request, nullptr) ? 1 : 0;
    std::string value;
    try {
        value = boundValue(request.type, requireTypeName(request));
    } catch (const std::invalid_argument& e) {
        korvo::uerr << "ERROR: " << e.what() << std::endl;
        return 0;
    } catch (const korvo::idn::IdnaError& e) {
        korvo::uerr << "ERROR: --handler-type-name: " << e.what() << std::endl;
        return 0;
    }
    return findHandler(request, value.c_str()) ? 1 : 0;
}

} // namespace

#define HANDLER_SELECT_SYNTAX HANDLER_NAME_AND_TYPE " --handler-type-name=<name> " HANDLER_HOOK

const CommandDescription addHandlerCommand{"--add-handler", addHandler,
                                           HANDLER_NAME_AND_TYPE
                                           " --handler-type-name=<name> " HANDLER_PROGRAM
                                           " " HANDLER_HOOK " --priority=<number>",
                                           "adds a mail-handler"};
const CommandDescription updateHandlerCommand{
    "--update-handler", updateHandler,
    HANDLER_NAME_AND_TYPE " " HANDLER_PROGRAM " " HANDLER_HOOK " --priority=<number>",
    "updates a given mail-handler"};
const CommandDescription removeHandlerCommand{
    "--remove-handler", removeHandler, HANDLER_SELECT_SYNTAX, "removes a given mail-handler"};
const CommandDescription disableHandlerCommand{
    "--disable-handler", disableHandler, HANDLER_SELECT_SYNTAX, "disables a given mail-handler"};
const CommandDescription enableHandlerCommand{
    "--enable-handler", enableHandler, HANDLER_SELECT_SYNTAX, "enables a given mail-handler"};
const CommandDescription checkHandlerCommand{"--check-handler", checkHandler, HANDLER_SELECT_SYNTAX,
                                             "checks if a given mail-handler exists"};

} // namespace korvo::mail::postfix::vornctl_commands
