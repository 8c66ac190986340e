#include "utils/StringList.h"

#include "utils/Logging.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

char** string_to_mas(char** list, const char* string) {
    std::size_t count = 0;
    while (list != nullptr && list[count] != nullptr)
        ++count;
    char* copy = strdup(string);
    auto* grown = copy == nullptr
                      ? nullptr
                      : static_cast<char**>(std::realloc(list, (count + 2) * sizeof(char*)));
    if (grown == nullptr) {
        korvo_log(LOG_LEVEL_ERROR, "System error: %s\n", std::strerror(errno));
        std::free(copy);
        return nullptr;
    }
    grown[count] = copy;
    grown[count + 1] = nullptr;
    return grown;
}

void free_array(char** list) {
    if (list == nullptr)
        return;
    for (char** entry = list; *entry != nullptr; ++entry)
        std::free(*entry);
    std::free(list);
}

char** string_split(const char* text, const char* separators) {
    char* copy = strdup(text);
    if (copy == nullptr) {
        korvo_log(LOG_LEVEL_ERROR, "System error: %s\n", std::strerror(errno));
        return nullptr;
    }
    char** list = nullptr;
    char* rest = copy;
    while (rest != nullptr) {
        const char* piece = strsep(&rest, separators);
        // Empty pieces between separators are runs of separators; only the
        // piece after a trailing separator is kept empty.
        if (*piece == '\0' && rest != nullptr)
            continue;
        char** grown = string_to_mas(list, piece);
        if (grown == nullptr) {
            korvo_log(LOG_LEVEL_ERROR, "Unable to add string into array");
            break;
        }
        list = grown;
    }
    std::free(copy);
    return list;
}
