#include "support/DateTime.h"

#include <cmath>
#include <limits>

#include "TestSupport.h"

namespace {

using namespace lumo;
using lumo::test::PinnedClock;
using lumo::test::ScopedLocale;
using lumo::test::Stamp;

TEST(DateTimeEncode, CountsDaysFromTheEpoch) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(1900, 3, 1), 61.0);  // 1900 is not a leap year
    EXPECT_EQ(EncodeDate(2026, 12, 7), 46363.0);
    EXPECT_NEAR(EncodeDateTime(2026, 12, 7, 14, 5, 9), 46363.58691, 1e-5);
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
}

TEST(DateTimeEncode, RollsOverMonthsAndYears) {
    EXPECT_EQ(EncodeDate(2026, 13, 1), EncodeDate(2027, 1, 1));
    EXPECT_EQ(EncodeDate(2024, 2, 30), EncodeDate(2024, 3, 1));
    EXPECT_EQ(EncodeDate(2023, 2, 29), EncodeDate(2023, 3, 1));
}

TEST(DateTimeDecode, RoundTripsEveryDayOverCenturies) {
    for (int serial = -109572; serial < 200000; serial += 13) {
        int y = 0, m = 0, d = 0;
        DecodeDate(serial, y, m, d);
        ASSERT_EQ(EncodeDate(y, m, d), serial) << y << "-" << m << "-" << d;
    }
}

TEST(DateTimeDecode, LeapDays) {
    int y = 0, m = 0, d = 0;
    DecodeDate(EncodeDate(2024, 2, 28) + 1, y, m, d);
    EXPECT_EQ(m * 100 + d, 229);
    DecodeDate(EncodeDate(2000, 2, 28) + 1, y, m, d);
    EXPECT_EQ(m * 100 + d, 229);
    DecodeDate(EncodeDate(2100, 2, 28) + 1, y, m, d);
    EXPECT_EQ(m * 100 + d, 301);
}

TEST(DateTimeDecode, BeforeTheEpochTheTimeStillCountsUp) {
    const TDateTime value = EncodeDateTime(1899, 12, 29, 6, 0, 0);
    EXPECT_EQ(value, -1.25);
    EXPECT_EQ(Stamp(value), "1899-12-29 06:00:00.000");
}

TEST(DateTimeDecode, RoundsToTheMillisecondAndCarries) {
    const TDateTime almostMidnight = EncodeDate(2026, 12, 31) + (86400000.0 - 0.4) / 86400000.0;
    EXPECT_EQ(Stamp(almostMidnight), "2027-01-01 00:00:00.000");
    EXPECT_EQ(Stamp(EncodeDateTime(2026, 12, 7, 14, 5, 9, 999)), "2026-12-07 14:05:09.999");
}

TEST(DateTimeDecode, SurvivesValuesBeyondAnyCalendar) {
    EXPECT_FALSE(Stamp(std::numeric_limits<double>::quiet_NaN()).empty());
    EXPECT_FALSE(Stamp(std::numeric_limits<double>::infinity()).empty());
    EXPECT_FALSE(Stamp(-1e300).empty());
    EXPECT_EQ(FormatDateTime("yyyymmdd", 4294967295.0).size() >= 8, true);
}

TEST(DateTimeFormat, NumbersWithAndWithoutLeadingZeros) {
    const TDateTime t = EncodeDateTime(2026, 3, 7, 4, 5, 9, 42);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t), "2026-03-07 04:05:09.042");
    EXPECT_EQ(FormatDateTime("yy m d h n s z", t), "26 3 7 4 5 9 42");
    EXPECT_EQ(FormatDateTime("yyyymmdd", t), "20260307");
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", t), "20260307040509");
    EXPECT_EQ(FormatDateTime("y", EncodeDate(2005, 1, 1)), "05");
    EXPECT_EQ(FormatDateTime("zz", t), "42");
}

TEST(DateTimeFormat, MAfterAnHourMeansMinutes) {
    const TDateTime t = EncodeDateTime(2026, 12, 7, 14, 5, 9);
    EXPECT_EQ(FormatDateTime("hh:mm", t), "14:05");
    EXPECT_EQ(FormatDateTime("h:m", t), "14:5");
    EXPECT_EQ(FormatDateTime("mm", t), "12");
    EXPECT_EQ(FormatDateTime("hh:mm dd/mm", t), "14:05 07/12");
    EXPECT_EQ(FormatDateTime("hh'h'mm", t), "14h05");
}

TEST(DateTimeFormat, LettersInEitherCase) {
    const TDateTime t = EncodeDateTime(2026, 12, 7, 14, 5, 9, 3);
    EXPECT_EQ(FormatDateTime("YYYYMMDD HH:NN:SS.ZZZ", t), "20261207 14:05:09.003");
}

TEST(DateTimeFormat, QuotedTextIsCopiedWithoutItsQuotes) {
    const TDateTime t = EncodeDateTime(2026, 12, 7, 14, 5, 9);
    EXPECT_EQ(FormatDateTime("\"day\" d 'month' m", t), "day 7 month 12");
    EXPECT_EQ(FormatDateTime("yyyy 'unclosed mm", t), "2026 unclosed mm");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd_x!/:", t), "2026-12-07_x!/:");
}

TEST(DateTimeFormat, EmptyFormatGivesDateAndTime) {
    ScopedLocale c("C");
    EXPECT_EQ(FormatDateTime("", EncodeDateTime(2026, 12, 7, 14, 5, 9)), "2026-12-07 14:05:09");
    EXPECT_EQ(FormatDateTime("", EncodeDate(2026, 12, 7)), "2026-12-07");
}

TEST(DateTimeFormat, NamesInTheCLocale) {
    ScopedLocale c("C");
    const TDateTime t = EncodeDate(2026, 12, 7);  // a Monday
    EXPECT_EQ(FormatDateTime("ddd dddd mmm mmmm", t), "Mon Monday Dec December");
    EXPECT_EQ(FormatDateTime("dddd", EncodeDate(2026, 12, 13)), "Sunday");
    EXPECT_EQ(FormatDateTime("dddd", EncodeDate(1899, 12, 30)), "Saturday");
}

TEST(DateTimeFormat, NamesInAFrenchLocale) {
    ScopedLocale fr("fr_FR.UTF-8");
    if (!fr.Ok()) GTEST_SKIP() << "fr_FR.UTF-8 missing: run scripts/install-deps.sh";
    const TDateTime t = EncodeDate(2026, 12, 7);
    EXPECT_EQ(FormatDateTime("dddd d mmmm yyyy", t), "lundi 7 décembre 2026");
    EXPECT_EQ(FormatDateTime("ddd mmm", EncodeDate(2026, 2, 1)), "dim. févr.");
}

TEST(DateTimeToText, CLocaleGivesIsoDates) {
    ScopedLocale c("C");
    const TDateTime t = EncodeDateTime(2026, 12, 7, 14, 5, 9, 700);
    EXPECT_EQ(DateToStr(t), "2026-12-07");
    EXPECT_EQ(TimeToStr(t), "14:05:09");
    EXPECT_EQ(DateTimeToStr(t), "2026-12-07 14:05:09");
}

TEST(DateTimeToText, FrenchLocale) {
    ScopedLocale fr("fr_FR.UTF-8");
    if (!fr.Ok()) GTEST_SKIP() << "fr_FR.UTF-8 missing: run scripts/install-deps.sh";
    EXPECT_EQ(DateToStr(EncodeDate(2026, 12, 7)), "07/12/2026");
    EXPECT_EQ(TimeToStr(EncodeTime(14, 5, 9, 0)), "14:05:09");
    EXPECT_EQ(DateTimeToStr(EncodeDateTime(2026, 12, 7, 14, 5, 9)), "07/12/2026 14:05:09");
}

TEST(DateTimeToText, TwoDigitYearLocalesStillShowFourDigits) {
    ScopedLocale us("en_US.UTF-8");
    if (!us.Ok()) GTEST_SKIP() << "en_US.UTF-8 missing";
    EXPECT_EQ(DateToStr(EncodeDate(2026, 12, 7)), "12/07/2026");
}

TEST(DateTimeToText, MidnightShowsTheDateAloneAndADaylessValueTheTimeAlone) {
    ScopedLocale c("C");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 12, 7)), "2026-12-07");
    // Milliseconds alone do not make a time worth showing.
    EXPECT_EQ(DateTimeToStr(EncodeDateTime(2026, 12, 7, 0, 0, 0, 500)), "2026-12-07");
    EXPECT_EQ(DateTimeToStr(EncodeTime(14, 5, 9, 0)), "14:05:09");
    EXPECT_EQ(DateTimeToStr(0.0), "00:00:00");
    EXPECT_EQ(DateTimeToStr(1.0), "1899-12-31");
}

TEST(FloatToText, GeneralFormWithFifteenDigits) {
    ScopedLocale c("C");
    EXPECT_EQ(FloatToStr(0), "0");
    EXPECT_EQ(FloatToStr(-0.0), "0");
    EXPECT_EQ(FloatToStr(1.5), "1.5");
    EXPECT_EQ(FloatToStr(-2.25), "-2.25");
    EXPECT_EQ(FloatToStr(100), "100");
    EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
    EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
    EXPECT_EQ(FloatToStr(1e15), "1E15");
    EXPECT_EQ(FloatToStr(1.5e20), "1.5E20");
    EXPECT_EQ(FloatToStr(0.00001), "0.00001");
    EXPECT_EQ(FloatToStr(0.000001), "1E-6");
    EXPECT_EQ(FloatToStr(std::numeric_limits<double>::quiet_NaN()), "NAN");
    EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(FloatToText, LocaleDecimalSeparator) {
    ScopedLocale fr("fr_FR.UTF-8");
    if (!fr.Ok()) GTEST_SKIP() << "fr_FR.UTF-8 missing: run scripts/install-deps.sh";
    EXPECT_EQ(FloatToStr(1.5), "1,5");
    EXPECT_EQ(FloatToStr(1.5e20), "1,5E20");
}

TEST(DateTimeClock, TestsCanPinNow) {
    const TDateTime pinned = EncodeDateTime(2026, 12, 7, 14, 5, 9);
    {
        PinnedClock clock(pinned);
        EXPECT_EQ(Now(), pinned);
    }
    EXPECT_NE(Now(), pinned);
    EXPECT_GT(Now(), EncodeDate(2020, 1, 1));
}

}  // namespace
