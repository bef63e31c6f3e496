#include "support/FileDescriptor.h"

#include <unistd.h>

#include <cerrno>

namespace lumo {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

int FileDescriptor::Release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void FileDescriptor::Reset(int fd) noexcept {
    const int old = fd_;
    fd_ = fd;
    if (old >= 0 && old != fd) ::close(old);
}

int FileDescriptor::Close() noexcept {
    const int fd = Release();
    if (fd < 0) return EBADF;
    return ::close(fd) == 0 ? 0 : errno;
}

}  // namespace lumo
