#include "mail/PathComponent.h"

#include <cstring>

bool is_path_component(const char* name) {
    return name != nullptr && *name != '\0' && std::strchr(name, '/') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}
