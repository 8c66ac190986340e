// The two reporters behind every "Fatal error" line.
//
// reportException writes "Fatal error: TYPE(TEXT)" for a caught exception,
// TYPE being the demangled dynamic type, followed by its traceback when the
// object carries one. reportUntypedException covers anything that is not a
// std::exception. Both write to korvo::uerr and never throw.
#ifndef KORVO_UTILS_REPORTEXCEPTION_H
#define KORVO_UTILS_REPORTEXCEPTION_H

#include <exception>
#include <string>

namespace korvo {

template <class E> void reportException(const E& e);
template <> void reportException<std::exception>(const std::exception& e);

// Any other exception type is reported through its std::exception base.
template <class E> void reportException(const E& e) {
    reportException<std::exception>(e);
}

void reportUntypedException();

// The demangled name of the dynamic type of e (the raw name if that fails).
std::string exceptionTypeName(const std::exception& e);

} // namespace korvo

#endif
