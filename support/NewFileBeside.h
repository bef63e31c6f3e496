#pragma once

#include <string>
#include <string_view>

#include "support/FileDescriptor.h"

namespace lumo {

// The new file a save writes before it takes its final name: created empty
// beside it (a rename never crosses file systems) under a name no one else
// holds, and removed again unless it took the final name, which thus holds
// the old file or the whole new one, never a part. Each step returns errno
// (0 on success) and throws nothing: each caller words its own message.
// Owns the new file's descriptor and, until the rename, the file; one
// thread.
class NewFileBeside {
  public:
    // `mode`, when given, is set on the new file (a replaced file keeps
    // its own); otherwise the umask decides. Error() says whether it exists.
    explicit NewFileBeside(std::string target, int mode = -1);
    ~NewFileBeside();
    NewFileBeside(const NewFileBeside&) = delete;
    NewFileBeside& operator=(const NewFileBeside&) = delete;

    int Error() const noexcept { return error_; }
    const std::string& Name() const noexcept { return name_; }

    // Appends all of `bytes`.
    int Write(std::string_view bytes);
    // The file's bytes on the disk, whoever wrote them (a library may write
    // by name), and its descriptor closed.
    int Flush();
    // Takes the final name, then puts the name itself on the disk (a
    // failure there loses nothing the file system would have kept).
    int Rename();

  private:
    std::string target_;
    std::string name_;  // the new file's, while it has one of its own
    FileDescriptor file_;
    int error_ = 0;
};

// The folder a path names its file in: "." for a bare name, "/" at the root.
std::string FolderOf(const std::string& path);

}  // namespace lumo
