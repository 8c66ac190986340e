#include "utils/ReportException.h"

#include "utils/ErrorStream.h"
#include "utils/MallocOwners.h"
#include "utils/Traceback.h"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <ostream>
#include <typeinfo>

namespace korvo {

std::string exceptionTypeName(const std::exception& e) {
    const char* raw = typeid(e).name();
    int status = 0;
    const MallocString name(abi::__cxa_demangle(raw, nullptr, nullptr, &status));
    return status == 0 && name ? std::string(name.get()) : std::string(raw);
}

template <> void reportException<std::exception>(const std::exception& e) {
    uerr << "Fatal error: " << exceptionTypeName(e) << "(" << e.what() << ")" << std::endl;
    if (const auto* tb = dynamic_cast<const Traceback*>(&e))
        uerr << *tb << std::flush;
}

void reportUntypedException() {
    uerr << "UNSPECIFIED ERROR OCCURED" << std::endl;
}

} // namespace korvo
