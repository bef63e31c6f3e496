#include "support/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace lumo {

namespace {

bool IsNullDevice(const struct stat& status) {
    struct stat null {};
    return S_ISCHR(status.st_mode) && ::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
           status.st_rdev == null.st_rdev;
}

bool Accepted(const struct stat& status, OpenableFiles accept) {
    return S_ISREG(status.st_mode) ||
           (accept == OpenableFiles::RegularOrNullDevice && IsNullDevice(status));
}

}  // namespace

FileDescriptor OpenRegularFile(const std::string& fileName, int flags, mode_t mode,
                               OpenableFiles accept) {
    FileDescriptor file;
    do {
        file.Reset(::open(fileName.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode));
    } while (!file.IsOpen() && errno == EINTR);
    struct stat status {};
    if (!file.IsOpen()) {
        // A pipe opened for writing with no reader, or a socket, fails with
        // ENXIO ("No such device or address"): name the real reason.
        const int error = errno;
        errno =
            error == ENXIO && ::stat(fileName.c_str(), &status) == 0 && !Accepted(status, accept)
                ? EINVAL
                : error;
        return file;
    }
    if (::fstat(file.Get(), &status) != 0) {
        const int error = errno;
        file.Reset();
        errno = error;
    } else if (!Accepted(status, accept)) {
        file.Reset();
        errno = EINVAL;
    }
    return file;
}

std::string FileErrorText(int error) {
    switch (error) {
        case EINVAL:
            return "Pas un fichier ordinaire";
        case EFBIG:
            return "Fichier trop volumineux";
        default:
            return std::strerror(error);
    }
}

}  // namespace lumo
