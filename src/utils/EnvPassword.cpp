#include "utils/EnvPassword.h"

#include <cstdlib>

namespace {

// Takes a non-empty variable out of the environment. The C library keeps
// the string a removed variable held (it never frees environment strings),
// so the pointer stays good after unsetenv.
const char* takeVariable(const char* name) {
    const char* const value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return nullptr;
    unsetenv(name);
    return value;
}

} // namespace

int get_env_password(const char** password, int* crypted) {
    if (const char* const plain = takeVariable("ORQ_PASSWORD")) {
        *password = plain;
        *crypted = 0;
        return 0;
    }
    if (const char* const hashed = takeVariable("ORQ_CRYPTED_PASSWORD")) {
        *password = hashed;
        *crypted = 1;
        return 0;
    }
    return -1;
}
