#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "LoggingTestUtil.h"
#include "logging/uFileLogger.h"
#include "support/Global_File.h"

namespace lumo {
namespace {

using testing::ErrorOf;
using testing::FileExists;
using testing::PinnedClock;
using testing::ProgramIn;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

// Plain lines: no time, no level tag, everything accepted.
std::unique_ptr<TFileLogger> MakeFileLogger(const TLoggerParams& params) {
    return std::make_unique<TFileLogger>(255, 0, params, false, "", false);
}

// A file logger whose opens fail the first `failures` times after creation,
// as when another program holds the file for a while.
class BusyFileLogger : public TFileLogger {
  public:
    BusyFileLogger(const TLoggerParams& params, int failures)
        : TFileLogger(255, 0, params, false, "", false), failures_(failures) {}
    int opens = 0;

  protected:
    int OpenFile(const std::string& fileName, LogOpenMode mode) override {
        ++opens;
        if (failures_ > 0) {
            --failures_;
            errno = EACCES;
            return -1;
        }
        return TFileLogger::OpenFile(fileName, mode);
    }

  private:
    int failures_;
};

class FileLoggerTest : public ::testing::Test {
  protected:
    TempFolder dir;
    ProgramIn program{dir.Path()};
};

TEST_F(FileLoggerTest, WritesEachLineWithCrLf) {
    auto logger = MakeFileLogger({"FileName=" + (dir / "app.log")});
    EXPECT_EQ(logger->CurrentFileName(), dir / "app.log");
    EXPECT_EQ(ReadFile(dir / "app.log"), "");
    logger->Log("premier", 5, 0);
    logger->Log("second é", 250, 0);
    EXPECT_EQ(ReadFile(dir / "app.log"), "premier\r\nsecond é\r\n");
}

TEST_F(FileLoggerTest, RelativeNameIsTakenFromTheProgramFolder) {
    auto logger = MakeFileLogger({"FileName=logs.txt"});
    EXPECT_EQ(logger->CurrentFileName(), dir / "logs.txt");
    logger->Log("x", 1, 0);
    EXPECT_EQ(ReadFile(dir / "logs.txt"), "x\r\n");
}

TEST_F(FileLoggerTest, WithoutFileNameEveryLineFails) {
    auto logger = MakeFileLogger({"DoAppend=True", "Other=1"});
    EXPECT_EQ(logger->CurrentFileName(), "");
    const auto error = ErrorOf([&] { logger->Log("perdu", 5, 0); });
    EXPECT_EQ(error.first, "Exception");
    EXPECT_EQ(error.second, "Le fichier n'a pas été assigné au FileLogger");
    // A line the filters drop never reaches the file at all.
    EXPECT_NO_THROW(logger->Log("filtered", 5, -3));
}

TEST_F(FileLoggerTest, DoAppendAbsentEmptiesTheFileAtEachStart) {
    MakeFileLogger({"FileName=run.log"})->Log("run 1", 1, 0);
    auto second = MakeFileLogger({"FileName=run.log"});
    EXPECT_EQ(ReadFile(dir / "run.log"), "");
    second->Log("run 2 a", 1, 0);
    second->Log("run 2 b", 1, 0);
    EXPECT_EQ(ReadFile(dir / "run.log"), "run 2 a\r\nrun 2 b\r\n");
}

TEST_F(FileLoggerTest, DoAppendFalseIsLikeAbsent) {
    MakeFileLogger({"FileName=run.log", "DoAppend=False"})->Log("run 1", 1, 0);
    auto second = MakeFileLogger({"FileName=run.log", "DoAppend=False"});
    EXPECT_FALSE(second->DoAppend());
    second->Log("run 2", 1, 0);
    EXPECT_EQ(ReadFile(dir / "run.log"), "run 2\r\n");
}

TEST_F(FileLoggerTest, AnyOtherDoAppendValueKeepsTheFile) {
    for (const std::string value : {"True", "1", "no", "false"}) {
        WriteFile(dir / "run.log", "before\r\n");
        auto logger = MakeFileLogger({"FileName=run.log", "DoAppend=" + value});
        EXPECT_TRUE(logger->DoAppend()) << value;
        logger->Log("after", 1, 0);
        EXPECT_EQ(ReadFile(dir / "run.log"), "before\r\nafter\r\n") << value;
    }
}

TEST_F(FileLoggerTest, LaterParameterWins) {
    auto logger =
        MakeFileLogger({"FileName=a.log", "DoAppend=True", "FileName=b.log", "DoAppend=False"});
    EXPECT_EQ(logger->FileMask(), "b.log");
    EXPECT_FALSE(logger->DoAppend());
    logger->Log("x", 1, 0);
    EXPECT_FALSE(FileExists(dir / "a.log"));
    EXPECT_EQ(ReadFile(dir / "b.log"), "x\r\n");
}

TEST_F(FileLoggerTest, RenameMovesTheOldLogAsideFirst) {
    WriteFile(dir / "app.log", "last run\r\n");
    auto logger = MakeFileLogger(
        {"FileName=" + (dir / "app.log"), "RenameFileTo=" + (dir / "app.old"), "DoAppend=True"});
    EXPECT_EQ(ReadFile(dir / "app.old"), "last run\r\n");
    logger->Log("this run", 1, 0);
    EXPECT_EQ(ReadFile(dir / "app.log"), "this run\r\n");
}

TEST_F(FileLoggerTest, RenameNeverReplacesAnExistingTarget) {
    WriteFile(dir / "app.log", "last run\r\n");
    WriteFile(dir / "app.old", "kept\r\n");
    auto logger =
        MakeFileLogger({"FileName=" + (dir / "app.log"), "RenameFileTo=" + (dir / "app.old")});
    EXPECT_EQ(ReadFile(dir / "app.old"), "kept\r\n");
    EXPECT_EQ(ReadFile(dir / "app.log"), "");  // DoAppend absent: a fresh file all the same
}

TEST_F(FileLoggerTest, RenameTakesRelativeNamesFromTheCurrentFolder) {
    TempFolder cwd;
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(cwd.Path());
    WriteFile(cwd / "rel.log", "old\r\n");
    auto logger = MakeFileLogger({"FileName=rel.log", "RenameFileTo=rel.bak"});
    std::filesystem::current_path(old);
    EXPECT_EQ(ReadFile(cwd / "rel.bak"), "old\r\n");
    EXPECT_FALSE(FileExists(cwd / "rel.log"));
    // The log itself lives in the program's folder.
    EXPECT_EQ(logger->CurrentFileName(), dir / "rel.log");
}

TEST_F(FileLoggerTest, RenameTargetIsAMask) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 14, 5, 9));
    WriteFile(dir / "app.log", "old\r\n");
    auto logger = MakeFileLogger(
        {"FileName=" + (dir / "app.log"), "RenameFileTo=" + (dir / "app_?DATE?.log")});
    EXPECT_EQ(ReadFile(dir / "app_20261207.log"), "old\r\n");
}

TEST_F(FileLoggerTest, DatedMaskRollsOverAtMidnight) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 23, 59, 59, 900));
    auto logger = MakeFileLogger({"FileName=log_?DATE?.txt"});
    EXPECT_EQ(logger->NextChange(), EncodeDate(2026, 12, 8));
    logger->Log("avant minuit", 1, 0);
    clock.Set(EncodeDateTime(2026, 12, 8, 0, 0, 0, 0));  // not later than NextChange yet
    logger->Log("a minuit pile", 1, 0);
    clock.Set(EncodeDateTime(2026, 12, 8, 0, 0, 0, 100));
    logger->Log("apres minuit", 1, 0);
    EXPECT_EQ(ReadFile(dir / "log_20261207.txt"), "avant minuit\r\na minuit pile\r\n");
    EXPECT_EQ(ReadFile(dir / "log_20261208.txt"), "apres minuit\r\n");
    EXPECT_EQ(logger->CurrentFileName(), dir / "log_20261208.txt");
    EXPECT_EQ(logger->NextChange(), EncodeDate(2026, 12, 9));
}

TEST_F(FileLoggerTest, NewDayFileIsEmptiedUnlessDoAppend) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 23, 0, 0));
    WriteFile(dir / "log_20261208.txt", "stale\r\n");
    auto logger = MakeFileLogger({"FileName=log_?DATE?.txt"});
    clock.Set(EncodeDateTime(2026, 12, 8, 1, 0, 0));
    logger->Log("new day", 1, 0);
    EXPECT_EQ(ReadFile(dir / "log_20261208.txt"), "new day\r\n");

    clock.Set(EncodeDateTime(2026, 12, 8, 23, 0, 0));
    WriteFile(dir / "log_20261209.txt", "kept\r\n");
    auto appending = MakeFileLogger({"FileName=log_?DATE?.txt", "DoAppend=True"});
    clock.Set(EncodeDateTime(2026, 12, 9, 1, 0, 0));
    appending->Log("added", 1, 0);
    EXPECT_EQ(ReadFile(dir / "log_20261209.txt"), "kept\r\nadded\r\n");
}

TEST_F(FileLoggerTest, MaskWithoutDateNeverChanges) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 12, 0, 0));
    auto logger = MakeFileLogger({"FileName=?EXENAME?.log"});
    EXPECT_EQ(logger->NextChange(), NeverChanges);
    logger->Log("a", 1, 0);
    clock.Set(EncodeDateTime(2031, 1, 1, 0, 0, 0));
    logger->Log("b", 1, 0);
    EXPECT_EQ(ReadFile(dir / "lumo4410.log"), "a\r\nb\r\n");
}

TEST_F(FileLoggerTest, InvalidMaskFailsTheCreation) {
    const auto error = ErrorOf([] { MakeFileLogger({"FileName=x?DATE"}); });
    EXPECT_EQ(error.second, "FileLogger : Masque de fichier invalide \"x?DATE\"");
}

TEST_F(FileLoggerTest, UnopenableFileFailsTheCreation) {
    std::filesystem::create_directory(dir / "taken");
    const auto error = ErrorOf([&] { MakeFileLogger({"FileName=taken"}); });
    EXPECT_EQ(error.first, "EInOutError");
    EXPECT_EQ(error.second, "Is a directory (" + (dir / "taken") + ")");
}

TEST_F(FileLoggerTest, DeletedFileIsCreatedAgain) {
    auto logger = MakeFileLogger({"FileName=app.log"});
    logger->Log("one", 1, 0);
    std::filesystem::remove(dir / "app.log");
    logger->Log("two", 1, 0);
    EXPECT_EQ(ReadFile(dir / "app.log"), "two\r\n");
}

TEST_F(FileLoggerTest, BusyFileGetsOneDotPerFailedTryAndKeepsEarlierLines) {
    // Three failures: the first append and two retries.
    BusyFileLogger logger({"FileName=app.log"}, 0);
    logger.Log("before", 1, 0);
    BusyFileLogger busy({"FileName=app.log", "DoAppend=True"}, 3);
    busy.Log("after", 1, 0);
    EXPECT_EQ(busy.opens, 4);
    // A retry appends: the line written earlier in this run is still there.
    EXPECT_EQ(ReadFile(dir / "app.log"), "before\r\n..after\r\n");
}

TEST_F(FileLoggerTest, RetryNeverEmptiesTheFileEvenWithoutDoAppend) {
    class Flaky : public TFileLogger {
      public:
        Flaky() : TFileLogger(255, 0, {"FileName=app.log"}, false, "", false) {}
        int failures = 0;

      protected:
        int OpenFile(const std::string& name, LogOpenMode mode) override {
            if (failures > 0) {
                --failures;
                errno = EBUSY;
                return -1;
            }
            return TFileLogger::OpenFile(name, mode);
        }
    } logger;
    logger.Log("one", 1, 0);
    logger.Log("two", 1, 0);
    logger.failures = 2;
    logger.Log("three", 1, 0);
    EXPECT_EQ(ReadFile(dir / "app.log"), "one\r\ntwo\r\n.three\r\n");
}

TEST_F(FileLoggerTest, FileLockedForGoodFailsAfterTwentyOneTries) {
    auto logger = MakeFileLogger({"FileName=app.log"});
    logger->Log("ok", 1, 0);
    // Root ignores permissions; a folder in the file's place cannot be opened.
    std::filesystem::remove(dir / "app.log");
    std::filesystem::create_directory(dir / "app.log");
    const auto error = ErrorOf([&] { logger->Log("lost line", 1, 0); });
    EXPECT_EQ(error.first, "Exception");
    EXPECT_EQ(error.second, "Exception sur DoLog(21) (EInOutError:Is a directory (" +
                                (dir / "app.log") + "):lost line");
    // The logger keeps working once the file can be opened again.
    std::filesystem::remove(dir / "app.log");
    logger->Log("back", 1, 0);
    EXPECT_EQ(ReadFile(dir / "app.log"), "back\r\n");
}

TEST_F(FileLoggerTest, TwentyOneTriesThroughTheSeam) {
    BusyFileLogger logger({"FileName=app.log"}, 1000);
    const auto error = ErrorOf([&] { logger.Log("x", 1, 0); });
    EXPECT_EQ(logger.opens, 22);  // the append, then 21 tries
    EXPECT_EQ(error.second, "Exception sur DoLog(21) (EInOutError:Permission denied (" +
                                (dir / "app.log") + "):x");
}

TEST_F(FileLoggerTest, FailedRollOverIsRetriedWithTheNextLine) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 12, 0, 0));
    std::filesystem::create_directory(dir / "20261207");
    auto logger = MakeFileLogger({"FileName=?DATE?/app.log"});
    logger->Log("day one", 1, 0);
    clock.Set(EncodeDateTime(2026, 12, 8, 12, 0, 0));
    // The next day's folder does not exist yet.
    const auto error = ErrorOf([&] { logger->Log("lost", 1, 0); });
    EXPECT_EQ(error.first, "EInOutError");
    std::filesystem::create_directory(dir / "20261208");
    logger->Log("day two", 1, 0);
    EXPECT_EQ(ReadFile(dir / "20261207/app.log"), "day one\r\n");
    EXPECT_EQ(ReadFile(dir / "20261208/app.log"), "day two\r\n");
}

TEST_F(FileLoggerTest, SetFileNameSwitchesFilesAndIgnoresTheSameName) {
    auto logger = MakeFileLogger({"FileName=a.log", "DoAppend=True"});
    logger->Log("a1", 1, 0);
    logger->SetFileName("A.LOG");  // same name, case aside: nothing happens
    logger->Log("a2", 1, 0);
    logger->SetFileName("b.log");
    logger->Log("b1", 1, 0);
    EXPECT_EQ(ReadFile(dir / "a.log"), "a1\r\na2\r\n");
    EXPECT_EQ(ReadFile(dir / "b.log"), "b1\r\n");
    EXPECT_FALSE(FileExists(dir / "A.LOG"));
}

TEST_F(FileLoggerTest, PrefixesComeFromTheBase) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 9, 41, 3, 250));
    TFileLogger logger(100, 0, {"FileName=app.log"}, true, "yyyy-mm-dd hh:nn:ss.zzz", true);
    logger.Log("Ouverture LUMO4410", 100, 0);
    logger.Log("trace", 250, 0);
    EXPECT_EQ(ReadFile(dir / "app.log"), "2026-12-07 09:41:03.250: [100] Ouverture LUMO4410\r\n");
}

}  // namespace
}  // namespace lumo
