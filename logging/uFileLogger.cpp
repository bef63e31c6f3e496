#include "logging/uFileLogger.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "support/Application.h"
#include "support/Exception.h"
#include "support/Global_File.h"

namespace lumo {

namespace {

constexpr int kMaxRetries = 20;
constexpr auto kRetryPause = std::chrono::milliseconds(7);

// Moves the old log aside without ever replacing an existing target.
void RenameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS) return;
    // A file system without RENAME_NOREPLACE: link refuses an existing target.
    if (::link(from.c_str(), to.c_str()) == 0) ::unlink(from.c_str());
}

// Only an old log is moved aside: never a pipe or a device named as the
// log, least of all the null device.
bool IsRegularFile(const std::string& name) {
    struct stat status {};
    return ::stat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

TFileLogger::TFileLogger(std::uint8_t NiveauMax, std::int32_t LogSpecifique,
                         const TLoggerParams& Params, bool InsertTime,
                         const std::string& FormatDateTime, bool InsertNiveauLog)
    : TLogger(NiveauMax, LogSpecifique, Params, InsertTime, FormatDateTime, InsertNiveauLog),
      nextChange_(NeverChanges) {
    std::string fileName;
    std::string renameTo;
    bool rename = false;
    for (const auto& param : Params) {
        std::string name, value;
        if (!SplitLoggerParam(param, name, value)) continue;
        if (name == "FileName") {
            fileMask_ = value;
            fileName = GlobalFile().ExpandFileMaskUntil(value, nextChange_);
        } else if (name == "DoAppend") {
            doAppend_ = LoggerParamIsTrue(value);
        } else if (name == "RenameFileTo") {
            renameTo = GlobalFile().ExpandFileMask(value);
            rename = true;
        }
    }
    // Relative names here are taken from the current folder, as written.
    if (rename && IsRegularFile(fileName)) RenameWithoutReplacing(fileName, renameTo);
    // Nobody else sees this object yet: no lock needed.
    SetFileNameLocked(fileName);
}

TFileLogger::~TFileLogger() = default;

std::string TFileLogger::CurrentFileName() const {
    std::lock_guard lock(mutex_);
    return currentFileName_;
}

TDateTime TFileLogger::NextChange() const {
    std::lock_guard lock(mutex_);
    return nextChange_;
}

void TFileLogger::SetFileName(const std::string& name) {
    std::lock_guard lock(mutex_);
    SetFileNameLocked(name);
}

int TFileLogger::OpenFile(const std::string& fileName, LogOpenMode mode) {
    return OpenLogFile(fileName, mode);
}

void TFileLogger::SetFileNameLocked(const std::string& name) {
    SwitchLogFile(
        name, currentFileName_, doAppend_,
        [this](const std::string& file, LogOpenMode mode) { return OpenFile(file, mode); });
}

void TFileLogger::DoLog(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (currentFileName_.empty() && !rollOver_.Pending())
        throw Exception(ErrorClass::Exception, "Le fichier n'a pas été assigné au FileLogger");
    if (rollOver_.Pending() || Now() > nextChange_) {
        TDateTime next = NeverChanges;
        const std::string name = GlobalFile().ExpandFileMaskUntil(fileMask_, next);
        nextChange_ = next;
        rollOver_.MoveTo(name, [this](const std::string& file) { SetFileNameLocked(file); });
    }
    if (currentFileName_.empty())
        throw Exception(ErrorClass::Exception, "Le fichier n'a pas été assigné au FileLogger");
    WriteLineLocked(line);
}

void TFileLogger::WriteLineLocked(const std::string& line) {
    std::string prefix;
    int attempts = 0;
    try {
        LogFile file(OpenFile(currentFileName_, LogOpenMode::Append));
        if (!file.IsOpen()) {
            // Retries append (or create a missing file): a file that already
            // holds lines of this run is never emptied here.
            int error = errno;
            while (true) {
                ++attempts;
                LogFile retry(OpenFile(currentFileName_, LogOpenMode::AppendOrCreate));
                if (retry.IsOpen()) {
                    retry.WriteAndClose(prefix + line + "\r\n", currentFileName_);
                    return;
                }
                error = errno;
                if (attempts > kMaxRetries) RaiseInOutError(error, currentFileName_);
                prefix += '.';
                std::this_thread::sleep_for(kRetryPause);
            }
        }
        file.WriteAndClose(prefix + line + "\r\n", currentFileName_);
    } catch (const std::exception& e) {
        throw Exception(ErrorClass::Exception, "Exception sur DoLog(" + std::to_string(attempts) +
                                                   ") (" + ExceptionClassName(e) + ":" + e.what() +
                                                   ":" + line);
    }
}

}  // namespace lumo
