#pragma once

namespace lumo {

// An open POSIX file descriptor (a file, a socket, an eventfd), closed when
// its owner goes so that no path leaks it. Move-only; one thread at a time
// changes it, though the number itself may be read by others while it lives.
class FileDescriptor {
  public:
    // Takes `fd` as it comes from open(2) and the like; -1 owns nothing.
    explicit FileDescriptor(int fd = -1) noexcept : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const noexcept { return fd_; }
    bool IsOpen() const noexcept { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int Release() noexcept;

    // Closes the descriptor held, if any, and takes `fd` instead. A failed
    // close is not reported: use Close where that matters.
    void Reset(int fd = -1) noexcept;

    // Closes now, so that a writer sees a failed close (some file systems
    // report a full disk only there); returns close's errno, 0 on success,
    // EBADF when nothing was held. The descriptor is given up either way, as
    // close(2) leaves it unusable even when it fails.
    int Close() noexcept;

  private:
    int fd_;
};

}  // namespace lumo
