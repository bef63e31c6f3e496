#include "support/NewFileBeside.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <utility>

namespace lumo {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

NewFileBeside::NewFileBeside(std::string target, int mode) : target_(std::move(target)) {
    const std::string stem =
        FolderOf(target_) + "/." + std::filesystem::path(target_).filename().string() + ".";
    std::random_device random;
    error_ = EEXIST;
    for (int attempt = 0; attempt < 100 && error_ == EEXIST; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x.tmp", random());
        name_ = stem + suffix;
        file_.Reset(::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        error_ = file_.IsOpen() ? 0 : errno;
    }
    if (error_ != 0) {
        name_.clear();
        return;
    }
    if (mode >= 0) ::fchmod(file_.Get(), static_cast<mode_t>(mode));
}

NewFileBeside::~NewFileBeside() {
    if (!name_.empty()) ::unlink(name_.c_str());
}

int NewFileBeside::Write(std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t put = ::write(file_.Get(), bytes.data() + written, bytes.size() - written);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        written += static_cast<std::size_t>(put);
    }
    return 0;
}

int NewFileBeside::Flush() {
    if (::fsync(file_.Get()) != 0) return errno;
    return file_.Close();
}

int NewFileBeside::Rename() {
    if (::rename(name_.c_str(), target_.c_str()) != 0) return errno;
    name_.clear();
    const FileDescriptor folder(
        ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.IsOpen()) ::fsync(folder.Get());
    return 0;
}

}  // namespace lumo
