#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "support/FileDescriptor.h"

namespace lumo {

// How a log file is opened for one write.
enum class LogOpenMode {
    Append,          // the file must exist; lines go at its end
    Rewrite,         // created, or emptied when it exists
    AppendOrCreate,  // lines go at the end; created when missing
};

// One open of a log file, closed again when it goes out of scope. The file
// and memory loggers open, write and close their file for every line or
// block, so no handle stays open between writes. Used by one thread at a time.
class LogFile {
  public:
    // Takes a descriptor from OpenLogFile (or -1).
    explicit LogFile(int fd) noexcept : file_(fd) {}

    bool IsOpen() const noexcept { return file_.IsOpen(); }

    // Writes every byte, then closes; a failure raises "EInOutError" naming
    // the file.
    void WriteAndClose(std::string_view bytes, const std::string& fileName);

  private:
    FileDescriptor file_;
};

// Opens with the flags of the mode, without ever waiting: only a regular
// file or the null device is taken, anything else (a pipe would hold the
// logger for ever) fails with EINVAL. -1 and errno on failure.
int OpenLogFile(const std::string& fileName, LogOpenMode mode);

// True when the name exists and is not a folder.
bool LogFileExists(const std::string& fileName);

// The file error: class "EInOutError", the reason (FileErrorText) and the
// file's name.
[[noreturn]] void RaiseInOutError(int error, const std::string& fileName);

// Case-insensitive comparison of two names, ASCII letters only.
bool SameFileNameText(const std::string& a, const std::string& b);

// Switches a logger to the file `name`, made absolute against the log
// folder (the program's, or the one of the configuration read, LogFolder()): nothing happens when
// it is already `current`; otherwise it becomes `current` and is created empty, or kept as it is
// when `append` is set and it exists. On failure `current` is emptied and the error raised. `open`
// is the logger's way to open a file (tests make it fail).
void SwitchLogFile(const std::string& name, std::string& current, bool append,
                   const std::function<int(const std::string&, LogOpenMode)>& open);

// A logger's move to the file its mask names at a new moment. The new file
// may not open (a dated folder not there yet): the move then stays pending,
// so that the logger's next write tries it again instead of losing every
// line that follows. Owned by the file or memory logger; used under its lock.
class LogRollOver {
  public:
    bool Pending() const { return pending_; }

    // Moves to `name` with `switchTo` (the logger's SwitchLogFile); on
    // failure the move stays pending and the error goes on.
    void MoveTo(const std::string& name, const std::function<void(const std::string&)>& switchTo);

  private:
    bool pending_ = false;
};

}  // namespace lumo
