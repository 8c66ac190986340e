// Owners of what the function library hands out with malloc: a string
// (free) and a null-terminated string list (free_array), so that every way
// out of a function gives them back.
#ifndef KORVO_UTILS_MALLOCOWNERS_H
#define KORVO_UTILS_MALLOCOWNERS_H

#include "utils/StringList.h"

#include <cstdlib>
#include <memory>

namespace korvo {

struct FreeString {
    void operator()(char* text) const { std::free(text); }
};
using MallocString = std::unique_ptr<char, FreeString>;

// Owns a null-terminated string list; frees it with free_array.
class StringListOwner {
public:
    StringListOwner() = default;
    explicit StringListOwner(char** list) : list_(list) {}
    StringListOwner(const StringListOwner&) = delete;
    StringListOwner& operator=(const StringListOwner&) = delete;
    ~StringListOwner() { free_array(list_); }

    // Where a function that hands out a list stores it; a list grown in
    // place (string_to_mas moves it) is stored back here as well.
    char*** out() { return &list_; }
    // Gives the list up without freeing it.
    char** release() {
        char** const list = list_;
        list_ = nullptr;
        return list;
    }
    char** get() const { return list_; }
    bool empty() const { return list_ == nullptr || list_[0] == nullptr; }
    char* const* begin() const { return list_; }
    char* const* end() const {
        char* const* last = list_;
        while (last != nullptr && *last != nullptr)
            ++last;
        return last;
    }

private:
    char** list_ = nullptr;
};

} // namespace korvo

#endif
