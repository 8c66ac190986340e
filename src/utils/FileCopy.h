// Copying everything from one descriptor to another, inside the kernel
// where it can (sendfile from a regular file, splice from a pipe), so that
// a message never passes through the program's memory; through a buffer
// where the kernel cannot copy between the two. A failure returns false
// with errno set; what was copied before it stays written.
//
// readAll is the other way round, for the small files a program must look
// at (settings, logs, .qmail): the whole content into memory, up to a limit.
#ifndef KORVO_UTILS_FILECOPY_H
#define KORVO_UTILS_FILECOPY_H

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace korvo {

// Copies input to its end onto output; copied (when given) grows by the
// bytes moved.
bool copyAll(int input, int output, off_t* copied);

// Appends input to its end onto text; false with errno set when a read
// fails, or with EFBIG once text would grow past limit.
bool readAll(int input, std::string& text, std::size_t limit = std::string::npos);

} // namespace korvo

#endif
