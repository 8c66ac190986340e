// How a child's standard descriptor is set up. A value of 0 or more is an
// existing descriptor that the child gets (borrowed: the launcher never
// closes it); the negative values below ask for something else. Any other
// negative value is refused before anything is forked.
#ifndef KORVO_PROCESS_DESCRIPTORSPEC_H
#define KORVO_PROCESS_DESCRIPTORSPEC_H

namespace korvo::process {

// Not chosen yet; flag objects start with it, launching turns it into
// FD_INHERIT.
constexpr int FD_UNSET = -1;
// The child keeps the parent's descriptor.
constexpr int FD_INHERIT = -2;
// /dev/null: read-only for stdin, write-only for stdout and stderr.
constexpr int FD_DEVNULL = -3;
// A new pipe; the parent keeps the other end.
constexpr int FD_PIPE = -4;
// stderr only: whatever stdout was given.
constexpr int FD_AS_STDOUT = -5;

} // namespace korvo::process

#endif
