#include "mail/handlers/HandlerNames.h"

#include "utils/Logging.h"
#include "utils/StringList.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

int handler_name_split(const char* name, HandlerNameParts* parts) {
    const char* first = std::strchr(name, '-');
    if (first == nullptr) {
        return korvo_error("Invalid handler name '%s': missing priority section", name);
    }
    const char* last = std::strrchr(name, '-');
    if (last == first) {
        return korvo_error("Invalid handler name '%s': missing random part", name);
    }
    if (last == first + 1) {
        return korvo_error("Invalid handler name '%s': empty template part", name);
    }
    parts->priority.assign(name, first);
    parts->templ.assign(first + 1, last);
    parts->random.assign(last + 1);
    return 0;
}

namespace {

// The pieces of a name split at "-", freed on every way out.
class Pieces {
public:
    explicit Pieces(const char* name) : list_(string_split(name, "-")) {}
    ~Pieces() { free_array(list_); }
    Pieces(const Pieces&) = delete;
    Pieces& operator=(const Pieces&) = delete;

    bool valid() const { return list_ != nullptr; }
    // The piece at index, or "" when the name has fewer pieces.
    const char* at(std::size_t index) const {
        for (std::size_t i = 0; i <= index; ++i)
            if (list_[i] == nullptr)
                return "";
        return list_[index];
    }

private:
    char** list_;
};

// The priority as "%i" reads it; text that is no number counts as 0.
int priorityOf(const char* piece) {
    int priority = 0;
    if (std::sscanf(piece, "%i", &priority) != 1)
        return 0;
    return priority;
}

} // namespace

int handlers_compare(const char* a, const char* b) {
    const Pieces left(a);
    const Pieces right(b);
    if (!left.valid() || !right.valid()) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to split handlers name. Skipping sorting handlers..");
        return 0;
    }
    const int leftPriority = priorityOf(left.at(0));
    const int rightPriority = priorityOf(right.at(0));
    if (leftPriority != rightPriority)
        return leftPriority < rightPriority ? -1 : 1;
    const int templates = std::strcoll(left.at(1), right.at(1));
    if (templates != 0)
        return templates;
    return std::strcoll(left.at(2), right.at(2));
}

void handlers_sort(char** names, std::size_t count) {
    std::stable_sort(names, names + count,
                     [](const char* a, const char* b) { return handlers_compare(a, b) < 0; });
}
