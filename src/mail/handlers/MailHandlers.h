// Mail handlers: external programs that the mail system runs at a hook
// point ("before-queue", "before-local", "before-remote") for all mail or
// for one sender or recipient address or domain, kept in the registry of
// HandlerRegistry.h.
//
// A handler is created (mail_handler_add) with its parameters and then
// enabled or disabled in the queue of its hook, type and value through
// control_handler_queue. Every change runs the registry's synchronisation
// program. Failures are reported in words through korvo_log (LOG_LEVEL_ERROR, or LOG_LEVEL_WARNING
// for warnings) and the result -1 (null for names); nothing is rolled back.
// Names that would leave the registry (a handler name, hook or value with
// "/", or equal to "." or "..") are refused before any path is built.
//
// Use: mail_handler_add("spamcheck", "recipient", "a@example.com",
//          "/usr/bin/check", "ctx", "before-local", "10", HANDLER_ENABLE);
//      char* name = get_handler_name("spamcheck", "recipient",
//          "a@example.com", "before-local");   // free() it
#ifndef KORVO_MAIL_HANDLERS_MAILHANDLERS_H
#define KORVO_MAIL_HANDLERS_MAILHANDLERS_H

// Queue actions of control_handler_queue and the mass operations.
enum HandlerQueueAction {
    HANDLER_REMOVE = 1,  // mail_handler_remove
    HANDLER_ENABLE = 2,  // the handler's entry in its queue
    HANDLER_DISABLE = 3, // no entry in its queue
    HANDLER_QUERY = 4,   // 1 when enabled, else 0
    HANDLER_COPY = 5,    // an equal, enabled handler for newValue
    HANDLER_MOVE = 6     // copy, then remove this one
};

// The first handler (in directory order) whose name contains templ, with
// this hook and exactly this type, global or bound to value (ignoring case).
// A new (malloc'ed) name, or null.
char* get_handler_name(const char* templ, const char* type, const char* value, const char* hook);

// Applies action to the handler name; newValue is the address or domain of
// a copy. 0 or -1; the query gives 0 or 1.
int control_handler_queue(const char* name, const char* newValue, int action);

// Creates the handler PRIORITY-TEMPL-XXXXXX and applies action (enable or
// disable) to it. value is required for every type but "global".
int mail_handler_add(const char* templ, const char* type, const char* value, const char* executable,
                     const char* context, const char* hook, const char* priority, int action);

// Replaces the handler found by get_handler_name by one under a new name
// with the given executable, context and priority (empty: the old ones),
// enabled exactly when the old one was. The old handler is removed only
// after the new one's executable and names have been checked.
int mail_handler_update(const char* templ, const char* type, const char* value,
                        const char* executable, const char* context, const char* hook,
                        const char* priority);

// Disables the handler and deletes its parameters.
int mail_handler_remove(const char* name);

// 1 when any queue of hook that concerns address (global; sender and
// recipient of the address; sender-domain and recipient-domain of its
// domain) holds an entry, 0 when none does, -1 on error.
int mail_handler_check_all(const char* address, const char* hook);

#endif
