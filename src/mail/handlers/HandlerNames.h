// Names of mail handlers: PRIORITY-TEMPLATE-RANDOM.
//
// The priority is the caller's number text, the template the caller's
// handler name (it may hold "-" itself), the random part six characters
// from mkdtemp. Taking a name apart cuts at the first and at the last "-".
// handlers_compare orders names by priority (read with "%i", so "0x10" is
// sixteen and "010" eight), then by the template and the third "-" piece
// in the locale's collation order: the order in which the delivery side
// runs the handlers of one queue.
#ifndef KORVO_MAIL_HANDLERS_HANDLERNAMES_H
#define KORVO_MAIL_HANDLERS_HANDLERNAMES_H

#include <cstddef>
#include <string>

struct HandlerNameParts {
    std::string priority;
    std::string templ;
    std::string random;
};

// Takes name apart. A name without "-", with only one "-", or whose two
// cuts meet is refused with "Invalid handler name '%s': ..." through
// korvo_log (LOG_LEVEL_ERROR) and -1; 0 on success.
int handler_name_split(const char* name, HandlerNameParts* parts);

// <0, 0 or >0 like strcmp. Names that cannot be split compare equal after
// the message "Unable to split handlers name. Skipping sorting handlers..".
int handlers_compare(const char* a, const char* b);

// Sorts count names in place with handlers_compare.
void handlers_sort(char** names, std::size_t count);

#endif
