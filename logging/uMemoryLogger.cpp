#include "logging/uMemoryLogger.h"

#include <algorithm>
#include <cerrno>

#include "logging/LogConvert.h"
#include "logging/LogFile.h"
#include "support/Application.h"
#include "support/Exception.h"
#include "support/Global_File.h"

namespace lumo {

TMemoryLogger::TMemoryLogger(std::uint8_t NiveauMax, std::int32_t LogSpecifique,
                             const TLoggerParams& Params, bool InsertTime,
                             const std::string& FormatDateTime, bool InsertNiveauLog)
    : TLogger(NiveauMax, LogSpecifique, Params, InsertTime, FormatDateTime, InsertNiveauLog) {
    std::string fileName;
    for (const auto& param : Params) {
        std::string name, value;
        if (!SplitLoggerParam(param, name, value)) continue;
        if (name == "MaxLigne") {
            if (!IsIntegerText(value))
                throw Exception(ErrorClass::Exception,
                                "MemoryLogger : Paramètre MaxLigne doit être un entier");
            maxLigne_ = ConfigInteger<std::int32_t>("MemoryLogger : Paramètre MaxLigne", value);
        } else if (name == "FileName") {
            fileMask_ = value;
            fileName = GlobalFile().ExpandFileMaskIsDated(value, dated_);
        } else if (name == "DoAppend") {
            doAppend_ = LoggerParamIsTrue(value);
        } else if (name == "DumpType") {
            dumpType_ = value == "Buffer" ? TDumpType::Buffer : TDumpType::Rolling;
        } else if (name == "NiveauDump") {
            niveauDump_ = ConfigInteger<std::int32_t>("MemoryLogger : Paramètre NiveauDump", value);
        }
    }
    SetFileName(fileName);
}

TMemoryLogger::~TMemoryLogger() {
    if (dumpType_ != TDumpType::Buffer) return;
    std::lock_guard lock(mutex_);
    if (lines_.empty()) return;
    try {
        DumpLocked();
    } catch (...) {
        // Nowhere left to report it: the program is letting the logger go.
    }
}

std::string TMemoryLogger::CurrentFileName() const {
    std::lock_guard lock(mutex_);
    return currentFileName_;
}

std::size_t TMemoryLogger::LineCount() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
}

void TMemoryLogger::Dump() {
    std::lock_guard lock(mutex_);
    DumpLocked();
}

void TMemoryLogger::SetFileName(const std::string& name) {
    SwitchLogFile(name, currentFileName_, doAppend_, OpenLogFile);
}

void TMemoryLogger::DoLog(const std::string& line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
    const auto excess =
        static_cast<std::int64_t>(lines_.size()) - static_cast<std::int64_t>(maxLigne_);
    if (dumpType_ == TDumpType::Rolling && excess > 0) {
        // A negative MaxLigne keeps nothing rather than deleting past the end.
        const auto drop = std::min<std::int64_t>(excess, static_cast<std::int64_t>(lines_.size()));
        lines_.erase(lines_.begin(), lines_.begin() + drop);
    }
    const bool dump = dumpType_ == TDumpType::Buffer ? excess >= 0 : LastLevel <= niveauDump_;
    if (!dump) return;
    // A failed dump keeps the lines: the next dump writes them with the rest.
    DumpLocked();
    lines_.clear();
}

void TMemoryLogger::DumpLocked() {
    if (currentFileName_.empty() && !rollOver_.Pending()) return;
    if (dated_) {
        bool dated = false;
        const std::string name = GlobalFile().ExpandFileMaskIsDated(fileMask_, dated);
        rollOver_.MoveTo(name, [this](const std::string& file) { SetFileName(file); });
    }
    std::string text;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (i) text += "\r\n";
        text += lines_[i];
    }
    // Trailing blanks and control characters of the whole block go.
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
    text += "\r\n";

    LogFile file(OpenLogFile(currentFileName_, LogOpenMode::Append));
    if (file.IsOpen()) {
        file.WriteAndClose(text, currentFileName_);
        return;
    }
    const auto mode =
        doAppend_ && LogFileExists(currentFileName_) ? LogOpenMode::Append : LogOpenMode::Rewrite;
    LogFile again(OpenLogFile(currentFileName_, mode));
    if (!again.IsOpen()) RaiseInOutError(errno, currentFileName_);
    again.WriteAndClose(text, currentFileName_);
}

}  // namespace lumo
