// Owners of what the function library hands out with malloc: a string
// (free) and a null-terminated string list (free_array), so that every way
// out of a function gives them back.
#ifndef KORVO_MAIL_MALLOCOWNERS_H
#define KORVO_MAIL_MALLOCOWNERS_H

#include "utils/StringList.h"

#include <cstdlib>
#include <memory>

namespace korvo::mail {

struct FreeString {
    void operator()(char* text) const { std::free(text); }
};
using MallocString = std::unique_ptr<char, FreeString>;

struct FreeStringList {
    void operator()(char** list) const { free_array(list); }
};
using StringListOwner = std::unique_ptr<char*, FreeStringList>;

} // namespace korvo::mail

#endif
