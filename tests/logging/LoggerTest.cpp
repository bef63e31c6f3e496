#include <gtest/gtest.h>

#include "LoggingTestUtil.h"
#include "logging/LogConvert.h"
#include "logging/uLogger.h"

namespace lumo {
namespace {

using testing::Journal;
using testing::PinnedClock;
using testing::RecordingLogger;

std::vector<std::string> WrittenFor(std::int32_t logSpecifique,
                                    const std::vector<std::int32_t>& specifics) {
    Journal journal;
    RecordingLogger logger(1, journal, 255, logSpecifique);
    for (auto specific : specifics) logger.Log("s" + std::to_string(specific), 100, specific);
    return journal.Lines(1);
}

TEST(LoggerFilter, GeneralLogTakesZeroAndPositiveSpecifics) {
    EXPECT_EQ(WrittenFor(0, {0, 1, 7, -3}), (std::vector<std::string>{"s0", "s1", "s7"}));
}

TEST(LoggerFilter, SpecificLogTakesOnlyItsNumber) {
    EXPECT_EQ(WrittenFor(7, {0, 1, 7, -3, 7}), (std::vector<std::string>{"s7", "s7"}));
    EXPECT_EQ(WrittenFor(-3, {0, -3, 3}), (std::vector<std::string>{"s-3"}));
}

TEST(LoggerFilter, MinusOneTakesEverything) {
    EXPECT_EQ(WrittenFor(-1, {0, 1, 7, -3, -1}),
              (std::vector<std::string>{"s0", "s1", "s7", "s-3", "s-1"}));
}

TEST(LoggerFilter, LevelsAboveNiveauMaxAreDropped) {
    Journal journal;
    RecordingLogger logger(1, journal, 50);
    for (int level : {5, 50, 51, 100, 250, 0}) logger.Log(std::to_string(level), level, 0);
    EXPECT_EQ(journal.Lines(1), (std::vector<std::string>{"5", "50", "0"}));
}

TEST(LoggerFilter, NiveauMaxZeroAndMaximum) {
    Journal zero;
    RecordingLogger onlyZero(1, zero, 0);
    onlyZero.Log("a", 1, 0);
    onlyZero.Log("b", 0, 0);
    EXPECT_EQ(zero.Lines(1), (std::vector<std::string>{"b"}));

    Journal all;
    RecordingLogger everything(1, all, 255);
    everything.Log("c", 255, 0);
    EXPECT_EQ(all.Lines(1), (std::vector<std::string>{"c"}));
}

TEST(LoggerPrefix, LevelTagIsThreeDigitsAndABlank) {
    Journal journal;
    RecordingLogger logger(1, journal, 255, 0, false, true);
    logger.Log("sept", 7, 0);
    logger.Log("deux cent cinquante", 250, 0);
    logger.Log("zero", 0, 0);
    EXPECT_EQ(journal.Lines(1),
              (std::vector<std::string>{"[007] sept", "[250] deux cent cinquante", "[000] zero"}));
}

TEST(LoggerPrefix, TimeComesBeforeTheLevelTag) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 9, 41, 3, 250));
    Journal journal;
    RecordingLogger logger(1, journal, 255, 0, true, true);
    logger.Log("Ouverture LUMO4410", 100, 0);
    EXPECT_EQ(journal.Lines(1),
              (std::vector<std::string>{"2026-12-07 09:41:03.250: [100] Ouverture LUMO4410"}));
}

TEST(LoggerPrefix, TimeUsesTheConfiguredFormat) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 14, 5, 9, 7));
    Journal journal;
    RecordingLogger logger(1, journal, 255, 0, true, false, "dd/mm hh:nn");
    logger.Log("x", 1, 0);
    EXPECT_EQ(journal.Lines(1), (std::vector<std::string>{"07/12 14:05: x"}));
}

TEST(LoggerPrefix, BothOptionsOffLeaveTheTextAlone) {
    Journal journal;
    RecordingLogger logger(1, journal, 255, 0, false, false);
    logger.Log("  texte é  ", 5, 0);
    EXPECT_EQ(journal.Lines(1), (std::vector<std::string>{"  texte é  "}));
}

TEST(LoggerPrefix, LastLevelIsTheLevelOfTheLineBeingWritten) {
    Journal journal;
    RecordingLogger logger(1, journal);
    logger.Log("a", 42, 0);
    logger.Log("b", 200, 0);
    logger.Log("dropped", 5, -3);  // filtered: LastLevel stays
    const auto entries = journal.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].level, 42);
    EXPECT_EQ(entries[1].level, 200);
    EXPECT_EQ(logger.LastLevel, 200);
}

TEST(LoggerParams, SplitAtTheFirstEqualSign) {
    std::string name, value;
    ASSERT_TRUE(SplitLoggerParam("FileName=a=b.log", name, value));
    EXPECT_EQ(name, "FileName");
    EXPECT_EQ(value, "a=b.log");
    ASSERT_TRUE(SplitLoggerParam("DoAppend=", name, value));
    EXPECT_EQ(value, "");
    EXPECT_FALSE(SplitLoggerParam("FileName", name, value));
    EXPECT_FALSE(SplitLoggerParam("=x", name, value));
}

TEST(LoggerParams, BooleanIsTrueUnlessExactlyFalse) {
    EXPECT_FALSE(LoggerParamIsTrue("False"));
    EXPECT_TRUE(LoggerParamIsTrue("false"));
    EXPECT_TRUE(LoggerParamIsTrue("FALSE"));
    EXPECT_TRUE(LoggerParamIsTrue("0"));
    EXPECT_TRUE(LoggerParamIsTrue(""));
    EXPECT_TRUE(LoggerParamIsTrue("no"));
}

template <typename F>
void ExpectConvertError(F&& f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no error, expected " << message;
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), "EConvertError");
        EXPECT_EQ(e.Message(), message);
    }
}

TEST(LogConvert, IntegersAreDecimalWithSign) {
    EXPECT_EQ(StrToInt("250"), 250);
    EXPECT_EQ(StrToInt("-1"), -1);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    ExpectConvertError([] { StrToInt(""); }, "'' is not a valid integer value");
    ExpectConvertError([] { StrToInt("abc"); }, "'abc' is not a valid integer value");
    ExpectConvertError([] { StrToInt("12 "); }, "'12 ' is not a valid integer value");
    ExpectConvertError([] { StrToInt("2147483648"); }, "'2147483648' is not a valid integer value");
    ExpectConvertError([] { StrToInt("+"); }, "'+' is not a valid integer value");
}

TEST(LogConvert, BooleansAreWordsOrNumbers) {
    EXPECT_TRUE(StrToBool("True"));
    EXPECT_TRUE(StrToBool("true"));
    EXPECT_FALSE(StrToBool("False"));
    EXPECT_FALSE(StrToBool("FALSE"));
    EXPECT_FALSE(StrToBool("0"));
    EXPECT_TRUE(StrToBool("1"));
    EXPECT_TRUE(StrToBool("-2"));
    ExpectConvertError([] { StrToBool("oui"); }, "'oui' is not a valid boolean value");
    ExpectConvertError([] { StrToBool(""); }, "'' is not a valid boolean value");
}

}  // namespace
}  // namespace lumo
