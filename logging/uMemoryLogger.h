#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "logging/LogFile.h"
#include "logging/uLogger.h"

namespace lumo {

// The destination that keeps lines in memory and writes them to a file in
// blocks. "Buffer" mode writes every line, MaxLigne lines at a time and the
// rest at destruction; the rolling mode keeps only the last MaxLigne lines
// and writes them when a message at or below NiveauDump arrives, so the file
// shows what led up to each important message. Parameters: "MaxLigne",
// "FileName" (a file mask), "DoAppend", "DumpType", "NiveauDump". It owns the
// buffered lines and a lock around them. Created and destroyed on the main
// thread while the logger thread does not use it; DoLog runs on the logger
// thread.
class TMemoryLogger : public TLogger {
  public:
    TMemoryLogger(std::uint8_t NiveauMax, std::int32_t LogSpecifique, const TLoggerParams& Params,
                  bool InsertTime, const std::string& FormatDateTime, bool InsertNiveauLog);
    // In Buffer mode the lines still held are written out; a file error at
    // that point is dropped, as a destructor cannot report it.
    ~TMemoryLogger() override;

    enum class TDumpType { Buffer, Rolling };

    // Writes the buffered lines to the file as one block (nothing when no
    // file is assigned); the caller empties the buffer.
    void Dump();

    std::int32_t MaxLigne() const { return maxLigne_; }
    bool DoAppend() const { return doAppend_; }
    TDumpType DumpType() const { return dumpType_; }
    std::int32_t NiveauDump() const { return niveauDump_; }
    const std::string& FileMask() const { return fileMask_; }
    std::string CurrentFileName() const;
    std::size_t LineCount() const;

  protected:
    void DoLog(const std::string& line) override;

  private:
    void SetFileName(const std::string& name);
    void DumpLocked();

    mutable std::mutex mutex_;  // guards the lines and the file name
    std::deque<std::string> lines_;
    std::string currentFileName_;
    std::string fileMask_;
    bool dated_ = false;
    LogRollOver rollOver_;  // a dated file that failed to open is retried at the next dump
    std::int32_t maxLigne_ = 1024;
    bool doAppend_ = true;
    TDumpType dumpType_ = TDumpType::Buffer;
    std::int32_t niveauDump_ = 0;
};

}  // namespace lumo
