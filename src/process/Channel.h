// One redirected standard stream of a pipe or of one of its processes: the
// descriptor specification (see DescriptorSpec.h) and the function that
// produces or consumes the data flowing through it.
//
// A feeder (InputChannel) fills the buffer it is given and returns whether
// more data will follow; it must either put data in the buffer or return
// false, since an empty buffer with "more to come" leaves the child waiting.
// A receiver (OutputChannel) is called with every chunk read, in order; an
// empty receiver reads the stream and drops what arrives.
#ifndef KORVO_PROCESS_CHANNEL_H
#define KORVO_PROCESS_CHANNEL_H

#include "process/DescriptorSpec.h"

#include <boost/function.hpp>
#include <vector>

namespace korvo::process {

template <class Signature> struct Channel {
    int fd = FD_UNSET;
    boost::function<Signature> function;
};

using InputChannel = Channel<bool(std::vector<char>&)>;
using OutputChannel = Channel<void(std::vector<char> const&)>;
using Feeder = boost::function<bool(std::vector<char>&)>;
using Receiver = boost::function<void(std::vector<char> const&)>;

} // namespace korvo::process

#endif
