// The filesystem registry of mail handlers: where it lives, the handler
// types, the parameter files of one handler, and the synchronisation of the
// registry with the delivery side.
//
// Layout below KORVO_HANDLERS_ROOT (all root-owned):
//   info/NAME/              one handler (0755): the one-line parameter files
//                           "hook", "context", "handler-type", TYPE (the
//                           lower-cased address or domain) or the empty
//                           "global", and the link "executable";
//   HOOK/TYPE/VALUE/NAME    empty file: NAME is enabled for that address or
//   HOOK/global/NAME        domain, or for all mail.
// Every path is at most KORVO_HANDLER_PATH_MAX - 1 bytes long; longer paths
// are refused with a message. Failures are reported through korvo_log at
// LOG_LEVEL_ERROR and the result (-1 or null); nothing here ends the process.
#ifndef KORVO_MAIL_HANDLERS_HANDLERREGISTRY_H
#define KORVO_MAIL_HANDLERS_HANDLERREGISTRY_H

#include <cstddef>
#include <string>
#include <vector>

#define KORVO_HANDLERS_ROOT "/usr/local/orq/handlers"
#define KORVO_HANDLERS_INFO_D KORVO_HANDLERS_ROOT "/info"
#define KORVO_HANDLERS_SYNC "/usr/lib64/korvo-9.0/handlers-tmpfs"

constexpr std::size_t KORVO_HANDLER_PATH_MAX = 4096;
// Longest parameter value read back (get_handler_parameter).
constexpr std::size_t KORVO_HANDLER_PARAM_MAX = 310;

// Handler types in table order; the registry stores these lower-case forms.
enum HandlerType {
    HANDLER_TYPE_SENDER = 0,
    HANDLER_TYPE_RECIPIENT = 1,
    HANDLER_TYPE_SENDER_DOMAIN = 2,
    HANDLER_TYPE_RECIPIENT_DOMAIN = 3,
    HANDLER_TYPE_GLOBAL = 4,
    HANDLER_TYPE_COUNT = 5
};
extern const char* const handler_types[HANDLER_TYPE_COUNT];

// The table index of type, compared ignoring case; -1 for null, empty or
// unknown types.
int handler_type_index(const char* type);

// True when path fits the registry's path buffers.
inline bool handler_path_fits(const std::string& path) {
    return path.size() < KORVO_HANDLER_PATH_MAX;
}

// "(null)" for null, for messages.
inline const char* handler_str(const char* text) {
    return text != nullptr ? text : "(null)";
}

// The entries of the info directory in directory order ("." and ".."
// left out) into names. A missing directory is an empty registry. 0, or -1
// after "Unable to open directory %s: %s".
int handler_list(std::vector<std::string>* names);

// A new (malloc'ed) copy of the first line of info/NAME/PARAMETER, trimmed,
// or null after a message ("No such parameter '%s' for handler '%s'" when
// the file does not exist).
char* get_handler_parameter(const char* name, const char* parameter);

// Replaces directory/parameter by a file holding value as its one line,
// mode 0644. A null or empty value writes nothing and succeeds. 0 or -1.
int string_to_file(const char* directory, const char* parameter, const char* value);

// Runs the synchronisation program with "refresh" when it is an executable
// regular file. Its failure is only logged ("Cannot sync tmps storage to
// fs", LOG_LEVEL_WARNING): the registry on disk is already changed.
void handlers_sync();

#endif
