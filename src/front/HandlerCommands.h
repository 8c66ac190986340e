// Mail handler commands: add, update, remove, enable, disable and check the
// external programs hooked into mail flow (the registry of MailHandlers.h).
//
// Every handler is named by a template (--handler-name), a type, a hook and,
// for every type but "global", an address or domain (--handler-type-name).
// Add, update, remove, enable and disable take a list of those (split at
// commas and blanks); check takes one. Before the registry is touched,
// every value passes its name check: the template and the hook are one
// path component, an address or domain is converted to ASCII and checked,
// the executable and context are one line, the priority is decimal digits.
//
// Exit statuses: 0, or 1 when a registry operation failed (after the whole
// list); --check-handler answers 1 when the handler exists and 0 when it
// does not. A non-global type without --handler-type-name ends the run
// through main (MissingMandatoryOption).
#ifndef KORVO_FRONT_HANDLERCOMMANDS_H
#define KORVO_FRONT_HANDLERCOMMANDS_H

#include "front/CommandRow.h"

namespace korvo::mail::postfix::vornctl_commands {

// The rows of this family's commands, for the command table.
extern const CommandDescription addHandlerCommand;
extern const CommandDescription updateHandlerCommand;
extern const CommandDescription removeHandlerCommand;
extern const CommandDescription disableHandlerCommand;
extern const CommandDescription enableHandlerCommand;
extern const CommandDescription checkHandlerCommand;

} // namespace korvo::mail::postfix::vornctl_commands

#endif
