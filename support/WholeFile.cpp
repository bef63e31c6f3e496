#include "support/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/FileDescriptor.h"
#include "support/RegularFile.h"

namespace lumo {

namespace {

WholeFile Failed(int error) { return {{}, error}; }

}  // namespace

WholeFile ReadWholeFile(const std::string& fileName, ReadableFiles accept, std::size_t maxBytes) {
    const FileDescriptor file =
        accept == ReadableFiles::RegularOnly
            ? OpenRegularFile(fileName, O_RDONLY)
            : FileDescriptor(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) return Failed(errno);
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) return Failed(errno);
    if (S_ISDIR(status.st_mode)) return Failed(EISDIR);
    if (status.st_size > 0 && static_cast<std::size_t>(status.st_size) > maxBytes)
        return Failed(EFBIG);

    WholeFile result;
    if (status.st_size > 0) result.bytes.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return Failed(errno);
        }
        if (got == 0) break;
        // A file that grows while it is read, or a pipe, is bound the same.
        if (static_cast<std::size_t>(got) > maxBytes - result.bytes.size()) return Failed(EFBIG);
        result.bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return result;
}

}  // namespace lumo
