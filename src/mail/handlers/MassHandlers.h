// Queue actions (MailHandlers.h) applied to many handlers at once: every
// handler bound to an address or domain, or every handler of a template.
//
// Both walk the whole registry, go on after a failed handler, and at the end
// report how many failed ("Some errors was occured in mass hook operation.
// errors: %i" through korvo_log) with the result -1; 0 when all went well.
// The list of handlers is taken before the first action, so handlers that a
// copy or move creates are not visited again.
#ifndef KORVO_MAIL_HANDLERS_MASSHANDLERS_H
#define KORVO_MAIL_HANDLERS_MASSHANDLERS_H

#include <string>
#include <vector>

// Applies action to every handler whose address or domain equals value.
// When value is a domain (no "@"), handlers of addresses in that domain are
// included; a copy or move then goes to the same local part "@" newValue.
// An empty value is refused: it would match every global handler.
int mass_control_handler_by_mailname(const char* value, const char* newValue, int action);

// Applies action to every handler whose template part equals templ, or to
// every handler when templ is "all".
int mass_control_handler_queue(const char* templ, int action);

// Removes every handler bound to one of the addresses, in one pass over the
// registry: a mailbox's removal reads the registry as often with ten aliases
// as with none. Returns the addresses whose removal failed, in the given
// order: all of them when the registry cannot be listed or one of its
// handlers cannot be read (it could have been anyone's), else those with a
// failed removal. The failures are logged as by the functions above.
std::vector<std::string> mass_remove_handlers_of(const std::vector<std::string>& addresses);

#endif
