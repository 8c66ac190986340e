#include "utils/Idn.h"

#include "utils/Exceptions.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"
#include "utils/StringUtils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <idna.h>
#include <memory>

int idn_errno = 0;

const char* idn_strerror(int code) {
    switch (code) {
    case IDNA_SUCCESS:
        return "Success";
    case IDNA_STRINGPREP_ERROR:
        return "Stringprep error";
    case IDNA_PUNYCODE_ERROR:
        return "Punycode error";
    case IDNA_CONTAINS_NON_LDH:
        return "Contains non-LDH characters";
    case IDNA_CONTAINS_MINUS:
        return "Contains minus";
    case IDNA_INVALID_LENGTH:
        return "Invalid length";
    case IDNA_NO_ACE_PREFIX:
        return "ACE prefix not found";
    case IDNA_ROUNDTRIP_VERIFY_ERROR:
        return "Verify error";
    case IDNA_CONTAINS_ACE_PREFIX:
        return "ACE prefix found";
    case IDNA_ICONV_ERROR:
        return "Iconv error";
    case IDNA_MALLOC_ERROR:
        return "Cannot allocate buffer";
    default:
        return "Unknown error";
    }
}

char* idn_toascii(const char* name) {
    char* out = nullptr;
    const int rc = idna_to_ascii_8z(name, &out, 0);
    if (rc == IDNA_SUCCESS)
        return out;
    if (rc == IDNA_MALLOC_ERROR) {
        errno = 0;
        messlog2(1, 0, "Allocation failed");
    }
    idn_errno = rc;
    return nullptr;
}

char* idn_email_toascii(const char* address) {
    const char* at = std::strchr(address, '@');
    if (at == nullptr)
        return nullptr;
    char* domain = idn_toascii(at + 1);
    if (domain == nullptr)
        return nullptr;
    char* result = asprintf_safe("%.*s@%s", static_cast<int>(at - address), address, domain);
    std::free(domain);
    return result;
}

namespace korvo::idn {

namespace {

using Converter = int (*)(const char*, char**, int);

std::string convert(Converter converter, const std::string& name) {
    char* out = nullptr;
    const int rc = converter(name.c_str(), &out, 0);
    const MallocString owned(out);
    if (rc != IDNA_SUCCESS)
        throw IdnaError(rc);
    return out;
}

} // namespace

std::string toAscii(const std::string& name) {
    return convert(idna_to_ascii_8z, name);
}

std::string toUtf8(const std::string& name) {
    return convert(idna_to_unicode_8z8z, name);
}

std::string emailToAscii(const std::string& address) {
    const std::string::size_type at = address.find('@');
    if (at == std::string::npos)
        return address;
    return address.substr(0, at + 1) + toAscii(address.substr(at + 1));
}

} // namespace korvo::idn
