#include "utils/Traceback.h"

#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <execinfo.h>
#include <memory>
#include <string>

namespace korvo {

namespace {

// Rebuilds "binary(mangled+0x12) [0x...]" with the mangled name demangled.
std::string demangleFrame(const std::string& line) {
    const std::string::size_type open = line.find('(');
    if (open == std::string::npos)
        return line;
    const std::string::size_type plus = line.find('+', open);
    if (plus == std::string::npos)
        return line;
    const std::string mangled = line.substr(open + 1, plus - open - 1);
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status), &std::free);
    if (status != 0 || !name)
        return line;
    return line.substr(0, open + 1) + name.get() + line.substr(plus);
}

} // namespace

Traceback::Traceback(std::size_t skip) {
    const int n = ::backtrace(addresses_, static_cast<int>(maxFrames));
    frames_ = n < 0 ? 0 : static_cast<std::uint64_t>(n);
    skip_ = skip > frames_ ? frames_ : skip;
}

Traceback::Traceback(const Traceback& other)
    : frames_(other.frames_), skip_(other.skip_), symbols_(nullptr) {
    std::memcpy(addresses_, other.addresses_, sizeof addresses_);
}

Traceback::~Traceback() {
    std::free(symbols_);
}

std::ostream& operator<<(std::ostream& out, const Traceback& tb) {
    if (tb.symbols_ == nullptr && tb.frames_ > 0)
        tb.symbols_ = ::backtrace_symbols(tb.addresses_, static_cast<int>(tb.frames_));
    // A skip that covers the whole stack still prints the heading, so a reader
    // sees that a traceback was taken.
    if (tb.symbols_ != nullptr) {
        out << "Traceback:" << '\n';
        for (std::uint64_t i = tb.skip_; i < tb.frames_; ++i)
            out << '\t' << demangleFrame(tb.symbols_[i]) << '\n';
        return out;
    }
    out << "Traceback addresses:" << '\n';
    for (std::uint64_t i = 0; i < tb.frames_; ++i)
        out << '\t' << tb.addresses_[i] << '\n';
    return out;
}

} // namespace korvo
