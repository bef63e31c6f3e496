#include <gtest/gtest.h>

#include <filesystem>

#include "LoggingTestUtil.h"
#include "logging/uApplicationLogger.h"

namespace lumo {
namespace {

using testing::FileExists;
using testing::Gate;
using testing::Journal;
using testing::ProgramIn;
using testing::ReadFile;
using testing::RecordingLogger;
using testing::TempFolder;
using testing::WriteFile;

// An application logger without configuration file, to which each test adds
// recording destinations before its first log call.
class AppLoggerThreadTest : public ::testing::Test {
  protected:
    void SetUp() override { ShutdownAppLogger(); }
    void TearDown() override { ShutdownAppLogger(); }

    RecordingLogger& AddRecorder(int id) {
        auto recorder = std::make_unique<RecordingLogger>(id, journal);
        RecordingLogger& ref = *recorder;
        AppLogger().AddLogger(std::move(recorder));
        return ref;
    }

    TempFolder dir;
    ProgramIn program{dir.Path()};
    Journal journal;
};

TEST_F(AppLoggerThreadTest, RecordsReachEveryDestinationInCallAndConfigurationOrder) {
    AddRecorder(1);
    AddRecorder(2);
    AppLogger().Log("a", 5, 0);
    AppLogger().Log("b", 50, 0);
    AppLogger().Log("c", 250, 0);
    ASSERT_TRUE(journal.WaitFor(6));
    std::vector<std::string> order;
    for (const auto& e : journal.Entries())
        order.push_back(std::to_string(e.destination) + e.line + std::to_string(e.level));
    EXPECT_EQ(order, (std::vector<std::string>{"1a5", "2a5", "1b50", "2b50", "1c250", "2c250"}));
}

TEST_F(AppLoggerThreadTest, AddLoggerIgnoresNull) {
    AppLogger().AddLogger(nullptr);
    EXPECT_EQ(AppLogger().LoggerCount(), 0);
}

TEST_F(AppLoggerThreadTest, SlowDestinationDoesNotDelayTheCaller) {
    Gate gate;
    Journal entered;
    AddRecorder(1).before = [&](const std::string& line) {
        entered.Add({1, line, 0});
        gate.Pass();
    };
    AppLogger().Log("first", 5, 0);
    ASSERT_TRUE(entered.WaitFor(1));  // the destination now holds "first"
    // These calls return although the destination cannot write anything.
    for (int i = 0; i < 100; ++i) AppLogger().Log("queued " + std::to_string(i), 5, 0);
    EXPECT_EQ(journal.Entries().size(), 0u);
    EXPECT_EQ(AppLogger().Thread().QueuedCount(), 100u);
    gate.Open();
    ASSERT_TRUE(journal.WaitFor(101));
    EXPECT_EQ(journal.Lines(1).back(), "queued 99");
}

TEST_F(AppLoggerThreadTest, ShutdownWritesEverythingStillQueued) {
    Gate gate;
    Journal entered;
    AddRecorder(1).before = [&](const std::string& line) {
        entered.Add({1, line, 0});
        gate.Pass();
    };
    for (int i = 0; i < 10; ++i) AppLogger().Log(std::to_string(i), 5, 0);
    ASSERT_TRUE(entered.WaitFor(1));
    gate.Open();
    ShutdownAppLogger();
    EXPECT_EQ(journal.Lines(1),
              (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}));
}

TEST_F(AppLoggerThreadTest, ShutdownToFilesWritesEverything) {
    WriteFile(dir / "AppLogger.xml",
              "<R Version=\"1.2\"><AllStations><Application ExeName=\"LUMO4410\">"
              "<A class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" InsertTime=\"False\" "
              "InsertNiveauLog=\"False\"><FileName>a.log</FileName></A>"
              "<B class=\"TMemoryLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" "
              "InsertTime=\"False\" InsertNiveauLog=\"False\"><FileName>b.log</FileName></B>"
              "</Application></AllStations></R>");
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        AppLogger().Log("line " + std::to_string(i), 100, 0);
        expected += "line " + std::to_string(i) + "\r\n";
    }
    ShutdownAppLogger();
    EXPECT_EQ(ReadFile(dir / "a.log"), expected);
    EXPECT_EQ(ReadFile(dir / "b.log"), expected);
}

TEST_F(AppLoggerThreadTest, StopPastItsDrainLimitDropsTheRestWithoutHanging) {
    Gate gate;
    Journal entered;
    AddRecorder(1).before = [&](const std::string& line) {
        entered.Add({1, line, 0});
        gate.Pass();
    };
    for (int i = 0; i < 10; ++i) AppLogger().Log(std::to_string(i), 5, 0);
    ASSERT_TRUE(entered.WaitFor(1));
    TAppLoggerThread& thread = AppLogger().Thread();
    std::thread stopper([&] { thread.Stop(std::chrono::milliseconds(0)); });
    while (!thread.StopRequested()) std::this_thread::yield();
    gate.Open();
    stopper.join();
    EXPECT_EQ(journal.Lines(1), (std::vector<std::string>{"0"}));
    EXPECT_EQ(thread.DroppedCount(), 9u);
    EXPECT_EQ(thread.QueuedCount(), 0u);
}

TEST_F(AppLoggerThreadTest, FailingDestinationDoesNotStopTheOthers) {
    AddRecorder(1).failOn = "b";
    AddRecorder(2);
    EXPECT_EQ(AppLogger().Thread().LastError(), "");
    AppLogger().Log("a", 5, 0);
    AppLogger().Log("b", 5, 0);
    AppLogger().Log("c", 5, 0);
    ASSERT_TRUE(journal.WaitFor(5));
    EXPECT_EQ(journal.Lines(1), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(journal.Lines(2), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(AppLogger().Thread().LastError(),
              "TAppLoggerThread Exception in Execute.F(EInOutError):disque plein");
    // Later records still go everywhere.
    AppLogger().Log("d", 5, 0);
    ShutdownAppLogger();
    EXPECT_EQ(journal.Lines(1), (std::vector<std::string>{"a", "c", "d"}));
}

TEST_F(AppLoggerThreadTest, LockedLogFileIsReportedAndTheSecondFileGoesOn) {
    WriteFile(dir / "AppLogger.xml",
              "<R Version=\"1.2\"><AllStations><Application ExeName=\"LUMO4410\">"
              "<A class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" InsertTime=\"False\" "
              "InsertNiveauLog=\"False\"><FileName>a.log</FileName></A>"
              "<B class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" InsertTime=\"False\" "
              "InsertNiveauLog=\"False\"><FileName>b.log</FileName></B>"
              "</Application></AllStations></R>");
    ASSERT_EQ(AppLogger().LoggerCount(), 2);
    // A folder in place of the first file: no open can succeed, even as root.
    std::filesystem::remove(dir / "a.log");
    std::filesystem::create_directory(dir / "a.log");
    AppLogger().Log("un", 5, 0);
    AppLogger().Log("deux", 5, 0);
    TAppLoggerThread& thread = AppLogger().Thread();
    ShutdownAppLogger();
    (void)thread;
    EXPECT_EQ(ReadFile(dir / "b.log"), "un\r\ndeux\r\n");
}

TEST_F(AppLoggerThreadTest, LastErrorOfALockedFileHasTheDocumentedForm) {
    WriteFile(dir / "AppLogger.xml",
              "<R Version=\"1.2\"><AllStations><Application ExeName=\"LUMO4410\">"
              "<A class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" InsertTime=\"False\" "
              "InsertNiveauLog=\"False\"><FileName>a.log</FileName></A>"
              "</Application></AllStations></R>");
    AddRecorder(2);
    std::filesystem::remove(dir / "a.log");
    std::filesystem::create_directory(dir / "a.log");
    AppLogger().Log("perdue", 5, 0);
    ASSERT_TRUE(journal.WaitFor(1));  // the recorder comes after the file
    EXPECT_EQ(AppLogger().Thread().LastError(),
              "TAppLoggerThread Exception in Execute.F(Exception):Exception sur DoLog(21) "
              "(EInOutError:Is a directory (" +
                  (dir / "a.log") + "):perdue");
}

TEST_F(AppLoggerThreadTest, NoDestinationRecordsAreTakenAndFreed) {
    for (int i = 0; i < 1000; ++i) AppLogger().Log("x", 5, 0);
    TAppLoggerThread& thread = AppLogger().Thread();
    thread.Stop();
    EXPECT_EQ(thread.QueuedCount(), 0u);
    EXPECT_EQ(thread.DroppedCount(), 0u);
}

TEST_F(AppLoggerThreadTest, CallsFromManyThreadsAreAllWrittenInPerThreadOrder) {
    AddRecorder(1);
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t)
        callers.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                AppLogger().Log(std::to_string(t) + ":" + std::to_string(i), 5, 0);
        });
    for (auto& c : callers) c.join();
    ShutdownAppLogger();
    const auto lines = journal.Lines(1);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (const auto& line : lines) {
        const int t = line[0] - '0';
        EXPECT_EQ(line.substr(2), std::to_string(next[t]++));
    }
}

TEST_F(AppLoggerThreadTest, SpecificNumbersTravelWithTheRecord) {
    auto& general = AddRecorder(1);
    (void)general;
    auto special = std::make_unique<RecordingLogger>(2, journal, 255, 7);
    AppLogger().AddLogger(std::move(special));
    AppLogger().Log("general", 5, 0);
    AppLogger().Log("special", 5, 7);
    AppLogger().Log("private", 5, -7);
    ShutdownAppLogger();
    EXPECT_EQ(journal.Lines(1), (std::vector<std::string>{"general", "special"}));
    EXPECT_EQ(journal.Lines(2), (std::vector<std::string>{"special"}));
}

TEST(AppLoggerAtExit, ProgramEndWritesWhatIsQueued) {
    // Forked as is, so the child writes into this test's folder; no logger
    // thread runs at this point.
    GTEST_FLAG_SET(death_test_style, "fast");
    TempFolder dir;
    WriteFile(dir / "AppLogger.xml",
              "<R Version=\"1.2\"><AllStations><AllApplications>"
              "<A class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" InsertTime=\"False\" "
              "InsertNiveauLog=\"False\"><FileName>exit.log</FileName></A>"
              "</AllApplications></AllStations></R>");
    EXPECT_EXIT(
        {
            SetProgramFileName(dir / "lumo4410");
            for (int i = 0; i < 50; ++i) AppLogger().Log("ligne " + std::to_string(i), 5, 0);
            std::exit(0);  // no explicit shutdown
        },
        ::testing::ExitedWithCode(0), "");
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += "ligne " + std::to_string(i) + "\r\n";
    EXPECT_EQ(ReadFile(dir / "exit.log"), expected);
}

}  // namespace
}  // namespace lumo
