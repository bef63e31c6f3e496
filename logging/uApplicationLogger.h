#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/uLogger.h"

namespace pugi {
class xml_node;
}

namespace lumo {

class TApplicationLogger;

// One queued message; the record owns a copy of the text.
struct LogRecord {
    std::uint8_t level = 0;
    std::int32_t specific = 0;
    std::string text;
};

// The background writer of the application logger: log calls only queue a
// record and wake it; it takes the records one by one, in order, and offers
// each to every destination of its logger, in configuration order. A failing
// destination costs that record for that destination only: the failure is
// kept in LastError and the thread goes on. At stop it writes what is still
// queued, for a bounded time, then ends. It owns the queue, its lock and the
// thread; the destinations belong to the logger. PostRecord and LastError
// may be called from any thread; the destinations are called from this
// thread only.
class TAppLoggerThread {
  public:
    // Starts the thread at once; it waits for records.
    TAppLoggerThread();
    // Stops (as Stop with the default drain limit) if not stopped yet.
    ~TAppLoggerThread();

    TAppLoggerThread(const TAppLoggerThread&) = delete;
    TAppLoggerThread& operator=(const TAppLoggerThread&) = delete;

    // Whose destinations receive the records; set by the owner right after
    // creation, before any record is posted.
    void SetLogger(const TApplicationLogger* logger);

    void PostRecord(std::string text, std::uint8_t level, std::int32_t specific);

    // Asks the thread to end after writing what is queued, waits for it and
    // returns. Records still queued once drainLimit has passed are dropped,
    // so a stop never waits on a flood of records behind a slow destination
    // (it still waits for the record in hand).
    void Stop(std::chrono::milliseconds drainLimit = kDefaultDrainLimit);

    // The last failure inside the thread, e.g. "TAppLoggerThread Exception in
    // Execute.F(Exception):..."; empty when there was none.
    std::string LastError() const;

    // Whether Stop was called.
    bool StopRequested() const;

    // Records waiting to be written, and records dropped at stop.
    std::size_t QueuedCount() const;
    std::size_t DroppedCount() const;

    static constexpr std::chrono::milliseconds kDefaultDrainLimit{10000};

  private:
    void Execute();
    void Deliver(const LogRecord& record);
    void SetLastError(const char* step, const std::string& className, const std::string& message);

    mutable std::mutex queueMutex_;  // guards queue_, stop_, drainDeadline_, dropped_
    std::condition_variable wake_;
    std::deque<LogRecord> queue_;
    bool stop_ = false;
    std::chrono::steady_clock::time_point drainDeadline_;
    std::size_t dropped_ = 0;

    std::atomic<const TApplicationLogger*> logger_{nullptr};

    mutable std::mutex errorMutex_;  // guards lastError_
    std::string lastError_;

    std::thread thread_;  // last: starts once everything above exists
};

// The one application-wide logger, reached through AppLogger(). At creation
// it reads "AppLogger.xml" from the program's folder (an installed program:
// from where FindLoggerConfiguration says), takes the section for
// this station and this program, and creates one destination per entry; the
// log call only queues the message for its thread. It owns its destinations
// (in configuration order) and its thread. Created and destroyed on the main
// thread; Log may be called from any thread. The destination list is filled
// before the first message and not changed while the thread runs, so the
// thread reads it without a lock: AddLogger, LoadConfiguration and
// ClearLoggers belong before the first log call.
class TApplicationLogger {
  public:
    // Fails with "Vous devez accéder à la classe TApplicationLogger par le
    // biais de la fonction AppLogger" unless called by AppLogger().
    TApplicationLogger();
    // Stops the thread (what is queued is written first), then destroys the
    // destinations in order.
    ~TApplicationLogger();

    TApplicationLogger(const TApplicationLogger&) = delete;
    TApplicationLogger& operator=(const TApplicationLogger&) = delete;

    // Queues the message and returns at once; nothing is written here.
    void Log(const std::string& text, std::uint8_t level, std::int32_t specific);

    // Appends a destination; a null one is ignored.
    void AddLogger(std::unique_ptr<TLogger> logger);
    int LoggerCount() const;
    // The destination at that 0-based index; null when out of range.
    TLogger* LoggerAt(int index) const;

    // Replaces the destinations by those the file configures for this
    // station and program. False when the file does not exist (then there is
    // no destination). Any error is raised as "TApplicationLogger : " + its
    // message.
    bool LoadConfiguration(const std::string& fileName);
    // Creates the destinations of the station section's application section;
    // false when it has none for this program.
    bool LoadApplicationNode(const pugi::xml_node& station);
    void CreateLoggerFromNode(const pugi::xml_node& node);
    void ClearLoggers();

    // The configuration's "Version" attribute; empty when absent.
    const std::string& Version() const { return version_; }

    TAppLoggerThread& Thread() { return *thread_; }

  private:
    std::vector<std::unique_ptr<TLogger>> loggers_;
    std::string version_;
    std::unique_ptr<TAppLoggerThread> thread_;  // after loggers_: it ends first
};

// The single application logger, created at the first call. A creation that
// fails is undone and its error raised; the next call tries again, reading
// the configuration anew.
TApplicationLogger& AppLogger();

// Ends the single application logger, if there is one: what is queued is
// written (for a bounded time), the thread ends, the destinations are
// destroyed. The next AppLogger() call creates a new one. Called by the
// program at close and, as a last resort, at exit; not while other threads
// still log.
void ShutdownAppLogger();

}  // namespace lumo
