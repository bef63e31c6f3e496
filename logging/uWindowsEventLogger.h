#pragma once

#include <functional>
#include <memory>
#include <string>

#include "logging/uLogger.h"

namespace lumo {

// Where system-log entries go: a syslog(3) priority (LOG_ERR, LOG_WARNING or
// LOG_INFO), the source name (the application title) and the line. The
// default sends them to syslog; tests install a sink of their own.
using EventLogSink =
    std::function<void(int priority, const std::string& source, const std::string& line)>;

// Replaces the system-log sink for every event logger; an empty function
// restores syslog. Safe from any thread.
void SetEventLogSink(EventLogSink sink);

// The destination that writes each line as one system-log entry under the
// application title, its priority following the message's level: error up
// to ErrorLevel, warning up to WarningLevel, information above. It owns its
// registration with the system log (opened at creation, closed at
// destruction). It reads no parameters. DoLog runs on the logger thread; a
// failed report is silent and the line is lost.
class TWindowsEventLogger : public TLogger {
  public:
    TWindowsEventLogger(std::uint8_t NiveauMax, std::int32_t LogSpecifique,
                        const TLoggerParams& Params, bool InsertTime,
                        const std::string& FormatDateTime, bool InsertNiveauLog);
    ~TWindowsEventLogger() override;

    std::uint8_t ErrorLevel = 5;
    std::uint8_t WarningLevel = 50;

  protected:
    void DoLog(const std::string& line) override;

  private:
    class Source;
    std::unique_ptr<Source> source_;
};

}  // namespace lumo
