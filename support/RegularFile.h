#pragma once

#include <sys/types.h>

#include <string>

#include "support/FileDescriptor.h"

namespace lumo {

// Which files an open by name keeps besides regular files.
enum class OpenableFiles {
    RegularOnly,
    // Also the null device, a log destination that keeps nothing.
    RegularOrNullDevice,
};

// Opens `fileName` with the open(2) `flags` (close-on-exec added) and keeps
// it only when it is a file of the kinds accepted. The open never waits
// (O_NONBLOCK): a pipe or a device named in a configuration is refused
// instead of holding the program for ever; on a regular file or the null
// device the flag changes nothing. On failure the descriptor owns nothing
// and errno holds the reason: EINVAL for a file of another kind (also a pipe
// that nobody reads), otherwise the open's own error. Any thread.
FileDescriptor OpenRegularFile(const std::string& fileName, int flags, mode_t mode = 0,
                               OpenableFiles accept = OpenableFiles::RegularOnly);

// The reason for a failed open, read or write in the operator's words: the
// refusals of OpenRegularFile and ReadWholeFile (EINVAL "Pas un fichier
// ordinaire", EFBIG "Fichier trop volumineux"), any other error as the
// system words it.
std::string FileErrorText(int error);

}  // namespace lumo
