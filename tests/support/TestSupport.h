#pragma once

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/Application.h"
#include "support/DateTime.h"
#include "support/Exception.h"

namespace lumo::test {

// Checks the error's class name and exact message, as every error text of
// the program is part of its behaviour.
#define EXPECT_THROW_MSG(statement, className, message)       \
    do {                                                      \
        try {                                                 \
            statement;                                        \
            ADD_FAILURE() << "no exception from " #statement; \
        } catch (const ::lumo::Exception& e) {                \
            EXPECT_EQ(e.ClassName(), className);              \
            EXPECT_EQ(std::string(e.what()), message);        \
        }                                                     \
    } while (false)

// A fresh folder under /tmp, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = "/tmp/lumo-support-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Pins Now() for the lifetime of the object.
class PinnedClock {
  public:
    explicit PinnedClock(TDateTime moment) {
        SetClock([moment] { return moment; });
    }
    ~PinnedClock() { SetClock({}); }
    PinnedClock(const PinnedClock&) = delete;
    PinnedClock& operator=(const PinnedClock&) = delete;
};

// Sets (or, with nullopt, removes) an environment variable, restoring it.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = getenv(name_.c_str())) old_ = old;
        if (value)
            setenv(name_.c_str(), value->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// Replaces the command-line parameters, restoring them.
class ScopedParams {
  public:
    explicit ScopedParams(std::vector<std::string> params) : old_(CommandLineParams()) {
        SetCommandLineParams(std::move(params));
    }
    ~ScopedParams() { SetCommandLineParams(old_); }
    ScopedParams(const ScopedParams&) = delete;
    ScopedParams& operator=(const ScopedParams&) = delete;

  private:
    std::vector<std::string> old_;
};

// Switches the process locale, restoring it. Ok() is false when the locale
// is not installed (scripts/install-deps.sh compiles fr_FR.UTF-8).
class ScopedLocale {
  public:
    explicit ScopedLocale(const char* name) {
        const char* current = setlocale(LC_ALL, nullptr);
        old_ = current != nullptr ? current : "C";
        ok_ = setlocale(LC_ALL, name) != nullptr;
    }
    ~ScopedLocale() { setlocale(LC_ALL, old_.c_str()); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    bool Ok() const { return ok_; }

  private:
    std::string old_;
    bool ok_ = false;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Runs `check` in a child process that an alarm ends if it blocks, so that
// a call that would wait for ever fails its test instead of hanging it. True
// when the child ended by itself with no failed expectation; the child
// reports its own failures.
template <typename F>
bool InChild(F&& check) {
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(20);
        const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
        const int failures = result->total_part_count();
        check();
        std::fflush(nullptr);
        _exit(result->total_part_count() == failures ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Puts at `path` what a program must not take for its own file: "fifo" a
// named pipe, "zero" a link to /dev/zero, "big" a sparse 5 MiB file.
inline void MakeOddFile(const std::string& kind, const std::string& path) {
    if (kind == "fifo" && mkfifo(path.c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo " << path;
    if (kind == "zero") std::filesystem::create_symlink("/dev/zero", path);
    if (kind == "big") std::ofstream(path).close(), std::filesystem::resize_file(path, 5 << 20);
}

// A date-time as text to the millisecond, for readable comparisons.
inline std::string Stamp(TDateTime value) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", value);
}

}  // namespace lumo::test
