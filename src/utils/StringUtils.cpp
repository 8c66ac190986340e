#include "utils/StringUtils.h"

#include "utils/Logging.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

char* asprintf_safe(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* result = nullptr;
    const int rc = vasprintf(&result, format, args);
    va_end(args);
    if (rc < 0)
        messlog2(1, 0, "Cannot allocate memory: %s", std::strerror(errno));
    return result;
}

char* strtolower(char* text) {
    for (char* c = text; *c != '\0'; ++c)
        *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    return text;
}

char* strtolower_dynamic(const char* text) {
    if (text == nullptr)
        return nullptr;
    char* copy = strdup(text);
    if (copy == nullptr) {
        korvo_log(LOG_LEVEL_ERROR, "System error: %s\n", std::strerror(errno));
        return nullptr;
    }
    return strtolower(copy);
}

char* korvo_trim(char* text) {
    std::size_t end = std::strlen(text);
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    text[end] = '\0';
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    return text;
}
