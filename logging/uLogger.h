#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

// The levels the program writes at; a lower level is more important. A
// destination keeps the messages at or below its own maximum.
namespace LogLevel {
inline constexpr std::uint8_t Error = 5;      // caught errors
inline constexpr std::uint8_t Finding = 50;   // what the worklist check finds
inline constexpr std::uint8_t Startup = 100;  // the opening line
inline constexpr std::uint8_t Trace = 250;    // progress of the check and of listen mode
}  // namespace LogLevel

// The name=value texts from which each destination reads its own settings.
using TLoggerParams = std::vector<std::string>;

// Splits one parameter text at its first "=". A text without "=" has no name
// and is ignored by every destination.
bool SplitLoggerParam(const std::string& param, std::string& name, std::string& value);

// A boolean parameter is true unless its value is exactly "False".
bool LoggerParamIsTrue(const std::string& value);

// The abstract log destination. It holds the settings every destination
// shares, drops the messages it was not configured for, builds the line
// prefix (time stamp and level tag) and hands the finished line to DoLog.
// It owns nothing. Log and DoLog run on the logger thread only, one message
// at a time, which is what makes LastLevel valid inside DoLog; the settings
// are fixed at creation.
class TLogger {
  public:
    // Every destination is created with these six arguments; Params is read
    // by the destination itself, the base ignores it.
    TLogger(std::uint8_t NiveauMax, std::int32_t LogSpecifique, const TLoggerParams& Params,
            bool InsertTime, const std::string& FormatDateTime, bool InsertNiveauLog);
    virtual ~TLogger();

    TLogger(const TLogger&) = delete;
    TLogger& operator=(const TLogger&) = delete;

    // Filters the message by specific-log number and level, prefixes it and
    // writes it through DoLog. Errors of the formatting or of DoLog go on to
    // the caller.
    void Log(const std::string& text, std::uint8_t level, std::int32_t specific);

    // Highest level written; a message with a greater level is dropped.
    std::uint8_t NiveauMax;
    // Put the local time, formatted with FormatDateTime, and ": " in front.
    bool InsertTime;
    std::string FormatDateTime;
    // 0: the general log (specific numbers 0 and above); -1: everything; any
    // other value: only that number.
    std::int32_t LogSpecifique;
    // Level of the message being written, set just before DoLog.
    std::uint8_t LastLevel = 0;
    // Put the level tag "[nnn] " in front.
    bool InsertNiveauLog;

  protected:
    // Writes one finished line to the destination.
    virtual void DoLog(const std::string& line) = 0;
};

}  // namespace lumo
