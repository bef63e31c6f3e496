#pragma once

#include <cstddef>
#include <string>

namespace lumo {

// Which files a whole-file read takes.
enum class ReadableFiles {
    // Anything but a folder, which is refused with EISDIR. A pipe is read
    // until its writer closes it, so the open and the read may wait.
    AllButFolders,
    // Regular files only (OpenRegularFile); anything else is refused with
    // EINVAL. The file is opened without waiting (O_NONBLOCK), so a name that
    // turns out to be a pipe is refused instead of blocking for ever.
    RegularOnly,
};

// The bytes of a whole file, or why they could not be read: the errno of
// the step that failed (open, fstat, read), 0 when `bytes` is the file.
struct WholeFile {
    std::string bytes;
    int error = 0;

    bool Ok() const noexcept { return error == 0; }
};

// No bound on the size of a file read.
inline constexpr std::size_t kAnySize = static_cast<std::size_t>(-1);

// Reads the whole file `fileName` (opened close-on-exec). A file larger than
// `maxBytes` is refused with EFBIG, without reading it into memory. Never
// throws for the file's sake: each caller turns `error` into its own message
// (FileErrorText words the refusals).
WholeFile ReadWholeFile(const std::string& fileName,
                        ReadableFiles accept = ReadableFiles::AllButFolders,
                        std::size_t maxBytes = kAnySize);

}  // namespace lumo
