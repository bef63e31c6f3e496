#include "logging/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/Exception.h"
#include "support/Global_File.h"
#include "support/ProgramFiles.h"
#include "support/RegularFile.h"

namespace lumo {

void LogFile::WriteAndClose(std::string_view bytes, const std::string& fileName) {
    if (!file_.IsOpen()) RaiseInOutError(EBADF, fileName);
    while (!bytes.empty()) {
        const ssize_t n = ::write(file_.Get(), bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseInOutError(errno, fileName);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    // An interrupted close has still released the descriptor and is no loss.
    if (const int error = file_.Close(); error != 0 && error != EINTR)
        RaiseInOutError(error, fileName);
}

int OpenLogFile(const std::string& fileName, LogOpenMode mode) {
    int flags = O_WRONLY;
    switch (mode) {
        case LogOpenMode::Append:
            flags |= O_APPEND;
            break;
        case LogOpenMode::Rewrite:
            flags |= O_CREAT | O_TRUNC;
            break;
        case LogOpenMode::AppendOrCreate:
            flags |= O_APPEND | O_CREAT;
            break;
    }
    // The descriptor goes to the caller's LogFile.
    return OpenRegularFile(fileName, flags, 0666, OpenableFiles::RegularOrNullDevice).Release();
}

bool LogFileExists(const std::string& fileName) {
    struct stat st {};
    return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void RaiseInOutError(int error, const std::string& fileName) {
    throw Exception(ErrorClass::EInOutError, FileErrorText(error) + " (" + fileName + ")");
}

bool SameFileNameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

void SwitchLogFile(const std::string& name, std::string& current, bool append,
                   const std::function<int(const std::string&, LogOpenMode)>& open) {
    if (SameFileNameText(name, current)) return;
    const std::string absolute = GlobalFile().GetAbsoluteFileName(name, LogFolder());
    if (SameFileNameText(absolute, current)) return;
    current = absolute;
    const auto mode =
        append && LogFileExists(absolute) ? LogOpenMode::Append : LogOpenMode::Rewrite;
    LogFile file(open(absolute, mode));
    if (!file.IsOpen()) {
        const int error = errno;
        current.clear();
        RaiseInOutError(error, absolute);
    }
    try {
        file.WriteAndClose({}, absolute);
    } catch (...) {
        current.clear();
        throw;
    }
}

void LogRollOver::MoveTo(const std::string& name,
                         const std::function<void(const std::string&)>& switchTo) {
    pending_ = false;
    try {
        switchTo(name);
    } catch (...) {
        pending_ = true;
        throw;
    }
}

}  // namespace lumo
