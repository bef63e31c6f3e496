#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "logging/uLogger.h"
#include "support/Application.h"
#include "support/DateTime.h"
#include "support/Exception.h"

namespace lumo::testing {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/lumo-logging-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) throw std::runtime_error("mkdtemp failed");
        path_ = made;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

// The class name and message of the program's error that `f` raises, or
// {"", "no error"} when it raises none.
template <typename F>
std::pair<std::string, std::string> ErrorOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return {e.ClassName(), e.Message()};
    }
    return {"", "no error"};
}

// Pins Now() to a settable moment for the lifetime of the object.
class PinnedClock {
  public:
    explicit PinnedClock(TDateTime at) : now_(std::make_shared<std::atomic<double>>(at)) {
        auto now = now_;
        SetClock([now] { return now->load(); });
    }
    ~PinnedClock() { SetClock({}); }
    PinnedClock(const PinnedClock&) = delete;
    PinnedClock& operator=(const PinnedClock&) = delete;

    void Set(TDateTime at) { now_->store(at); }

  private:
    std::shared_ptr<std::atomic<double>> now_;
};

// Makes `folder` the program's folder ("lumo4410" the program file) and sets
// the application title, restoring both at the end.
class ProgramIn {
  public:
    explicit ProgramIn(const std::string& folder, const std::string& file = "lumo4410",
                       const std::string& title = "Test Worklist")
        : oldTitle_(ApplicationTitle()) {
        SetProgramFileName(folder + "/" + file);
        SetApplicationTitle(title);
    }
    ~ProgramIn() {
        SetProgramFileName("");
        SetProgramKey("");
        SetApplicationTitle(oldTitle_);
    }
    ProgramIn(const ProgramIn&) = delete;
    ProgramIn& operator=(const ProgramIn&) = delete;

  private:
    std::string oldTitle_;
};

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = ::getenv(name)) old_ = old, hadOld_ = true;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (hadOld_)
            ::setenv(name_.c_str(), old_.c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

  private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

// One write seen by a RecordingLogger: which destination, the line, the level.
struct Written {
    int destination;
    std::string line;
    std::uint8_t level;
};

// What several recording destinations wrote, in the order they wrote it.
class Journal {
  public:
    void Add(Written w) {
        {
            std::lock_guard lock(mutex_);
            entries_.push_back(std::move(w));
        }
        changed_.notify_all();
    }
    std::vector<Written> Entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    std::vector<std::string> Lines(int destination) const {
        std::vector<std::string> lines;
        for (const auto& e : Entries())
            if (e.destination == destination) lines.push_back(e.line);
        return lines;
    }
    // Waits for `count` entries; the generous limit only keeps a broken test
    // from hanging, it is not a measurement.
    bool WaitFor(std::size_t count) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return entries_.size() >= count; });
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Written> entries_;
};

// A one-way gate a destination can wait at until the test opens it.
class Gate {
  public:
    void Open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        cv_.notify_all();
    }
    void Pass() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

// A destination that records every finished line in a journal. It can wait
// at a gate before writing, and fail on a chosen line.
class RecordingLogger : public TLogger {
  public:
    RecordingLogger(int id, Journal& journal, std::uint8_t niveauMax = 255,
                    std::int32_t logSpecifique = 0, bool insertTime = false,
                    bool insertNiveauLog = false,
                    const std::string& format = "yyyy-mm-dd hh:nn:ss.zzz")
        : TLogger(niveauMax, logSpecifique, {}, insertTime, format, insertNiveauLog),
          id_(id),
          journal_(journal) {}

    std::function<void(const std::string&)> before;  // runs first in DoLog
    std::string failOn;                              // a line that raises

  protected:
    void DoLog(const std::string& line) override {
        if (before) before(line);
        if (!failOn.empty() && line == failOn)
            throw Exception(ErrorClass::EInOutError, "disque plein");
        journal_.Add({id_, line, LastLevel});
    }

  private:
    int id_;
    Journal& journal_;
};

}  // namespace lumo::testing
