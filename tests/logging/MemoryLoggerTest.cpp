#include <gtest/gtest.h>

#include <filesystem>

#include "LoggingTestUtil.h"
#include "logging/uMemoryLogger.h"

namespace lumo {
namespace {

using testing::ErrorOf;
using testing::FileExists;
using testing::PinnedClock;
using testing::ProgramIn;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

std::unique_ptr<TMemoryLogger> MakeMemoryLogger(const TLoggerParams& params) {
    return std::make_unique<TMemoryLogger>(255, 0, params, false, "", false);
}

class MemoryLoggerTest : public ::testing::Test {
  protected:
    TempFolder dir;
    ProgramIn program{dir.Path()};
};

TEST_F(MemoryLoggerTest, Defaults) {
    auto logger = MakeMemoryLogger({});
    EXPECT_EQ(logger->MaxLigne(), 1024);
    EXPECT_TRUE(logger->DoAppend());
    EXPECT_EQ(logger->DumpType(), TMemoryLogger::TDumpType::Buffer);
    EXPECT_EQ(logger->NiveauDump(), 0);
    EXPECT_EQ(logger->CurrentFileName(), "");
}

TEST_F(MemoryLoggerTest, BufferWritesFullBlocksThenTheRestAtDestruction) {
    auto logger = MakeMemoryLogger({"FileName=mem.log", "MaxLigne=3", "DumpType=Buffer"});
    logger->Log("1", 250, 0);
    logger->Log("2", 250, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "");
    logger->Log("3", 250, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "1\r\n2\r\n3\r\n");
    logger->Log("4", 250, 0);
    logger->Log("5", 250, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "1\r\n2\r\n3\r\n");
    logger.reset();
    EXPECT_EQ(ReadFile(dir / "mem.log"), "1\r\n2\r\n3\r\n4\r\n5\r\n");
}

TEST_F(MemoryLoggerTest, BufferWithMaxLigneZeroWritesEveryLineAtOnce) {
    auto logger = MakeMemoryLogger({"FileName=mem.log", "MaxLigne=0"});
    logger->Log("a", 1, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "a\r\n");
    logger->Log("b", 1, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "a\r\nb\r\n");
    EXPECT_EQ(logger->LineCount(), 0u);
}

TEST_F(MemoryLoggerTest, RollingKeepsTheLinesLeadingUpToAnImportantOne) {
    auto logger =
        MakeMemoryLogger({"FileName=mem.log", "MaxLigne=3", "DumpType=Rolling", "NiveauDump=5"});
    for (const char* line : {"t1", "t2", "t3", "t4"}) logger->Log(line, 250, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "");
    EXPECT_EQ(logger->LineCount(), 3u);
    logger->Log("erreur", 5, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "t3\r\nt4\r\nerreur\r\n");
    EXPECT_EQ(logger->LineCount(), 0u);
    logger->Log("t5", 250, 0);
    logger->Log("grave", 0, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "t3\r\nt4\r\nerreur\r\nt5\r\ngrave\r\n");
}

TEST_F(MemoryLoggerTest, RollingDropsWhatRemainsAtDestruction) {
    auto logger = MakeMemoryLogger({"FileName=mem.log", "DumpType=Rolling", "NiveauDump=5"});
    logger->Log("trace", 250, 0);
    logger.reset();
    EXPECT_EQ(ReadFile(dir / "mem.log"), "");
}

TEST_F(MemoryLoggerTest, RollingWithDefaultNiveauDumpDumpsOnlyAtLevelZero) {
    auto logger = MakeMemoryLogger({"FileName=mem.log", "DumpType=Rolling"});
    logger->Log("five", 5, 0);
    logger->Log("one", 1, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "");
    logger->Log("zero", 0, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "five\r\none\r\nzero\r\n");
}

TEST_F(MemoryLoggerTest, DumpTypeIsCaseSensitive) {
    EXPECT_EQ(MakeMemoryLogger({"DumpType=buffer"})->DumpType(), TMemoryLogger::TDumpType::Rolling);
    EXPECT_EQ(MakeMemoryLogger({"DumpType=Buffer"})->DumpType(), TMemoryLogger::TDumpType::Buffer);
    EXPECT_EQ(MakeMemoryLogger({"DumpType="})->DumpType(), TMemoryLogger::TDumpType::Rolling);
}

TEST_F(MemoryLoggerTest, WithoutFileNameLinesAreCollectedAndDropped) {
    auto logger = MakeMemoryLogger({"MaxLigne=2"});
    logger->Log("a", 1, 0);
    EXPECT_EQ(logger->LineCount(), 1u);
    logger->Log("b", 1, 0);
    EXPECT_EQ(logger->LineCount(), 0u);
    logger->Log("c", 1, 0);
    logger.reset();
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(MemoryLoggerTest, TrailingBlanksOfTheBlockAreTrimmed) {
    auto logger = MakeMemoryLogger({"FileName=mem.log", "MaxLigne=2"});
    logger->Log("inner  ", 1, 0);
    logger->Log("last \t ", 1, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "inner  \r\nlast\r\n");
}

TEST_F(MemoryLoggerTest, MaxLigneMustBeAnInteger) {
    const auto error = ErrorOf([] { MakeMemoryLogger({"MaxLigne=beaucoup"}); });
    EXPECT_EQ(error.second, "MemoryLogger : Paramètre MaxLigne doit être un entier");
    // Each occurrence is converted: a bad first value fails even if a later one is good.
    EXPECT_EQ(ErrorOf([] {
                  MakeMemoryLogger({"MaxLigne=abc", "MaxLigne=7"});
              }).second,
              "MemoryLogger : Paramètre MaxLigne doit être un entier");
    EXPECT_EQ(MakeMemoryLogger({"MaxLigne=12", "MaxLigne=-3"})->MaxLigne(), -3);
}

TEST_F(MemoryLoggerTest, NiveauDumpConversionErrorFailsTheCreation) {
    const auto error = ErrorOf([] { MakeMemoryLogger({"NiveauDump=x"}); });
    EXPECT_EQ(error.first, "EConvertError");
    EXPECT_EQ(error.second, "'x' is not a valid integer value");
}

TEST_F(MemoryLoggerTest, DoAppendDefaultKeepsTheFileFalseEmptiesIt) {
    WriteFile(dir / "mem.log", "old\r\n");
    MakeMemoryLogger({"FileName=mem.log", "MaxLigne=1"})->Log("new", 1, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "old\r\nnew\r\n");
    MakeMemoryLogger({"FileName=mem.log", "MaxLigne=1", "DoAppend=False"})->Log("fresh", 1, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "fresh\r\n");
}

TEST_F(MemoryLoggerTest, DeletedFileIsCreatedAgainAtTheNextDump) {
    auto logger = MakeMemoryLogger({"FileName=mem.log", "MaxLigne=1"});
    logger->Log("a", 1, 0);
    std::filesystem::remove(dir / "mem.log");
    logger->Log("b", 1, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "b\r\n");
}

TEST_F(MemoryLoggerTest, DatedMaskSendsEachBlockToTheFileOfItsMoment) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 23, 59, 0));
    auto logger = MakeMemoryLogger({"FileName=mem_?DATE?.log", "MaxLigne=2"});
    logger->Log("a", 1, 0);
    clock.Set(EncodeDateTime(2026, 12, 8, 0, 1, 0));
    logger->Log("b", 1, 0);  // the block holding a and b is written now
    logger->Log("c", 1, 0);
    clock.Set(EncodeDateTime(2026, 12, 9, 8, 0, 0));
    logger.reset();
    EXPECT_EQ(ReadFile(dir / "mem_20261207.log"), "");
    EXPECT_EQ(ReadFile(dir / "mem_20261208.log"), "a\r\nb\r\n");
    EXPECT_EQ(ReadFile(dir / "mem_20261209.log"), "c\r\n");
}

TEST_F(MemoryLoggerTest, FailedDumpKeepsTheLinesForTheNextOne) {
    auto logger = MakeMemoryLogger({"FileName=mem.log", "MaxLigne=1"});
    std::filesystem::remove(dir / "mem.log");
    std::filesystem::create_directory(dir / "mem.log");
    const auto error = ErrorOf([&] { logger->Log("a", 1, 0); });
    EXPECT_EQ(error.first, "EInOutError");
    EXPECT_EQ(error.second, "Is a directory (" + (dir / "mem.log") + ")");
    std::filesystem::remove(dir / "mem.log");
    logger->Log("b", 1, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "a\r\nb\r\n");
}

TEST_F(MemoryLoggerTest, NegativeMaxLigneInRollingModeKeepsNothingAndDoesNotFail) {
    auto logger =
        MakeMemoryLogger({"FileName=mem.log", "MaxLigne=-5", "DumpType=Rolling", "NiveauDump=5"});
    EXPECT_NO_THROW(logger->Log("a", 250, 0));
    EXPECT_EQ(logger->LineCount(), 0u);
}

TEST_F(MemoryLoggerTest, PrefixesComeFromTheBase) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 9, 41, 3, 250));
    TMemoryLogger logger(255, 0, {"FileName=mem.log", "MaxLigne=1"}, true,
                         "yyyy-mm-dd hh:nn:ss.zzz", true);
    logger.Log("Ouverture LUMO4410", 100, 0);
    EXPECT_EQ(ReadFile(dir / "mem.log"), "2026-12-07 09:41:03.250: [100] Ouverture LUMO4410\r\n");
}

}  // namespace
}  // namespace lumo
