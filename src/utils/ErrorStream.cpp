#include "utils/ErrorStream.h"

#include <iostream>

namespace korvo {

UtilityErrorStreamBuf::int_type UtilityErrorStreamBuf::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    std::cerr.put(c);
    collected_.push_back(c);
    return ch;
}

int UtilityErrorStreamBuf::sync() {
    std::cerr.flush();
    std::cout << collected_;
    std::cout.flush();
    collected_.clear();
    return 0;
}

UtilityErrorStream::UtilityErrorStream() : std::ostream(nullptr) {
    rdbuf(&buf_);
}

UtilityErrorStream::~UtilityErrorStream() {
    buf_.pubsync();
}

UtilityErrorStream uerr;

} // namespace korvo
