#include <gtest/gtest.h>
#include <syslog.h>

#include "LoggingTestUtil.h"
#include "logging/uWindowsEventLogger.h"

namespace lumo {
namespace {

using testing::PinnedClock;
using testing::ProgramIn;
using testing::TempFolder;

struct Entry {
    int priority;
    std::string source;
    std::string line;
};

// Captures what would go to syslog, for the lifetime of the object.
class SinkCapture {
  public:
    SinkCapture() {
        SetEventLogSink([this](int priority, const std::string& source, const std::string& line) {
            std::lock_guard lock(mutex_);
            entries_.push_back({priority, source, line});
        });
    }
    ~SinkCapture() { SetEventLogSink({}); }
    std::vector<Entry> Entries() {
        std::lock_guard lock(mutex_);
        return entries_;
    }

  private:
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

class EventLoggerTest : public ::testing::Test {
  protected:
    TempFolder dir;
    ProgramIn program{dir.Path()};
    SinkCapture sink;
};

TEST_F(EventLoggerTest, LevelChoosesThePriority) {
    TWindowsEventLogger logger(255, 0, {}, false, "", false);
    EXPECT_EQ(logger.ErrorLevel, 5);
    EXPECT_EQ(logger.WarningLevel, 50);
    for (int level : {0, 5, 6, 50, 51, 255}) logger.Log("l" + std::to_string(level), level, 0);
    const auto entries = sink.Entries();
    ASSERT_EQ(entries.size(), 6u);
    const int expected[] = {LOG_ERR, LOG_ERR, LOG_WARNING, LOG_WARNING, LOG_INFO, LOG_INFO};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].priority, expected[i]) << entries[i].line;
        EXPECT_EQ(entries[i].source, "Test Worklist");
    }
    EXPECT_EQ(entries[2].line, "l6");
}

TEST_F(EventLoggerTest, EntryCarriesTheTimeAndTheLevelTag) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 9, 41, 3, 250));
    TWindowsEventLogger logger(255, 0, {"Ignored=1"}, true, "yyyy-mm-dd hh:nn:ss.zzz", true);
    logger.Log("Exception dans X", 5, 0);
    const auto entries = sink.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].line, "2026-12-07 09:41:03.250: [005] Exception dans X");
}

TEST_F(EventLoggerTest, FiltersApplyBeforeTheEntry) {
    TWindowsEventLogger logger(50, 0, {}, false, "", false);
    logger.Log("dropped by level", 100, 0);
    logger.Log("dropped by specific", 5, -2);
    logger.Log("kept", 50, 0);
    const auto entries = sink.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].line, "kept");
}

TEST_F(EventLoggerTest, AFailedReportIsSilent) {
    SetEventLogSink([](int, const std::string&, const std::string&) {
        throw std::runtime_error("journal indisponible");
    });
    TWindowsEventLogger logger(255, 0, {}, false, "", false);
    EXPECT_NO_THROW(logger.Log("perdu", 5, 0));
}

TEST(EventLoggerSyslog, DefaultSinkTreatsTheLineAsData) {
    // No sink: the real syslog. A line full of format directives must not be
    // read as a format (it would crash or leak memory contents).
    SetEventLogSink({});
    TWindowsEventLogger first(255, 0, {}, false, "", false);
    TWindowsEventLogger second(255, 0, {}, false, "", false);
    EXPECT_NO_THROW(first.Log("%s%s%s%n%n %x", 5, 0));
    EXPECT_NO_THROW(second.Log("information", 200, 0));
}

}  // namespace
}  // namespace lumo
