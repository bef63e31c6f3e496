#include "logging/uWindowsEventLogger.h"

#include <syslog.h>

#include <mutex>

#include "support/Application.h"

namespace lumo {

namespace {

std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}

EventLogSink& InstalledSink() {
    static EventLogSink sink;
    return sink;
}

// openlog keeps the ident pointer, so the text lives here for as long as any
// event logger is registered.
struct SyslogRegistration {
    std::mutex mutex;
    int users = 0;
    std::string ident;
};

SyslogRegistration& Registration() {
    static SyslogRegistration r;
    return r;
}

}  // namespace

void SetEventLogSink(EventLogSink sink) {
    std::lock_guard lock(SinkMutex());
    InstalledSink() = std::move(sink);
}

// The registration with the system log under the application title, shared
// by every event logger of the process (syslog has one ident per process).
class TWindowsEventLogger::Source {
  public:
    Source() : name_(ApplicationTitle()) {
        // Made to exist now, at creation, so that they outlive a logger that
        // is still writing while the program exits.
        SinkMutex();
        InstalledSink();
        auto& r = Registration();
        std::lock_guard lock(r.mutex);
        if (r.users++ == 0) {
            r.ident = name_;
            openlog(r.ident.c_str(), LOG_PID, LOG_USER);
        }
    }
    ~Source() {
        auto& r = Registration();
        std::lock_guard lock(r.mutex);
        if (--r.users == 0) closelog();
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    void Report(int priority, const std::string& line) const {
        EventLogSink sink;
        {
            std::lock_guard lock(SinkMutex());
            sink = InstalledSink();
        }
        if (sink) {
            sink(priority, name_, line);
            return;
        }
        // The line is data, never a format.
        syslog(priority, "%s", line.c_str());
    }

  private:
    std::string name_;
};

TWindowsEventLogger::TWindowsEventLogger(std::uint8_t NiveauMax, std::int32_t LogSpecifique,
                                         const TLoggerParams& Params, bool InsertTime,
                                         const std::string& FormatDateTime, bool InsertNiveauLog)
    : TLogger(NiveauMax, LogSpecifique, Params, InsertTime, FormatDateTime, InsertNiveauLog),
      source_(std::make_unique<Source>()) {}

TWindowsEventLogger::~TWindowsEventLogger() = default;

void TWindowsEventLogger::DoLog(const std::string& line) {
    int priority = LOG_INFO;
    if (LastLevel <= ErrorLevel)
        priority = LOG_ERR;
    else if (LastLevel <= WarningLevel)
        priority = LOG_WARNING;
    try {
        source_->Report(priority, line);
    } catch (...) {
        // A report that fails loses its line and nothing else.
    }
}

}  // namespace lumo
