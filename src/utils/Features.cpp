#include "utils/Features.h"

#include <cstdio>
#include <cstring>

int print_feature(const char* name, const char* value) {
    if (name == nullptr || value == nullptr)
        return -1;
    const bool isBoolean = std::strcmp(value, "true") == 0 || std::strcmp(value, "false") == 0;
    const int written = isBoolean ? std::printf("$features['%s'] = %s;\n", name, value)
                                  : std::printf("$features['%s'] = \"%s\";\n", name, value);
    return written < 0 ? -1 : 0;
}
