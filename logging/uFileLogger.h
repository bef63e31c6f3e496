#pragma once

#include <mutex>
#include <string>

#include "logging/LogFile.h"
#include "logging/uLogger.h"
#include "support/DateTime.h"

namespace lumo {

// The destination that appends each line, ended by CR LF, to a text file
// named by a file mask; a mask holding a date moves to a new file at the
// first line after its date part changes. The file is opened, written and
// closed for every line; a file that cannot be opened is retried for a short
// while, one dot in front of the line per failed try. Parameters: "FileName"
// (the mask), "DoAppend", "RenameFileTo". It owns the name of the current
// file and a lock around opening and writing. Created on the main thread;
// DoLog runs on the logger thread; SetFileName may be called from either.
class TFileLogger : public TLogger {
  public:
    TFileLogger(std::uint8_t NiveauMax, std::int32_t LogSpecifique, const TLoggerParams& Params,
                bool InsertTime, const std::string& FormatDateTime, bool InsertNiveauLog);
    ~TFileLogger() override;

    // Switches to the file of that name (made absolute against the log
    // folder, LogFolder()), emptying it unless DoAppend is set and it exists. On failure
    // no file is assigned and the error goes on.
    void SetFileName(const std::string& name);

    std::string CurrentFileName() const;
    bool DoAppend() const { return doAppend_; }
    const std::string& FileMask() const { return fileMask_; }
    TDateTime NextChange() const;

  protected:
    void DoLog(const std::string& line) override;

    // Opens the file for one write (a seam: tests make it fail for a while).
    // Returns a descriptor, or -1 with errno set.
    virtual int OpenFile(const std::string& fileName, LogOpenMode mode);

  private:
    void SetFileNameLocked(const std::string& name);
    void WriteLineLocked(const std::string& line);

    mutable std::mutex mutex_;  // guards the fields below and the file
    std::string currentFileName_;
    TDateTime nextChange_;
    std::string fileMask_;
    LogRollOver rollOver_;  // a failed roll-over is retried at the next line
    bool doAppend_ = false;
};

}  // namespace lumo
