// Autoresponders: one mail handler per address, run before local delivery.
//
// The handler has the template "autoresponder", the type "recipient", the
// address (mailname "@" ASCII domain) as its value, the program
// KORVO_AUTORESPONDER_HOOK with the context "responder", the hook
// "before-local" and the priority "90"; it is created enabled.
// Messages go through korvo_log at LOG_LEVEL_ERROR.
#ifndef KORVO_MAIL_SETTINGS_AUTORESPONDER_H
#define KORVO_MAIL_SETTINGS_AUTORESPONDER_H

#include "mail/handlers/HandlerRegistry.h"

#define KORVO_AUTORESPONDER_HOOK KORVO_HANDLERS_ROOT "/hooks/autoresponder"

enum AutoresponderAction { AUTORESPONDER_ADD = 2, AUTORESPONDER_REMOVE = 3 };

// For every mailname of the list mailnames and every domain of the list
// domains (both separated by any run of "," and " "; domains converted to
// ASCII): AUTORESPONDER_ADD adds the address's autoresponder when it has none,
// AUTORESPONDER_REMOVE removes it when it has one, other actions do nothing. All
// addresses are formed and checked before anything changes: an unsplittable
// list, a domain that does not convert or an address longer than 254
// characters gives -1 at once. A failing add or remove does not stop the
// others; at the end "Unable to make action for some autoresponder
// handlers" and -1. 0 when all went well.
int autoresponder_action(const char* mailnames, const char* domains, int action);

#endif
