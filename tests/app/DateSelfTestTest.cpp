// The date self-test: how the date field reads back from a scheduled start
// date attribute, six ways, appended to the result list.

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "app/TFormTestWL.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app {
namespace {

using Lines = std::vector<std::string>;

// The readings are shown in the user's locale: the C locale's dates are
// yyyy-mm-dd, which the expectations below use.
class DateSelfTest : public ::testing::Test {
  protected:
    DateSelfTest() : oldLocale_(std::setlocale(LC_ALL, nullptr)) { std::setlocale(LC_ALL, "C"); }
    ~DateSelfTest() override { std::setlocale(LC_ALL, oldLocale_.c_str()); }

    Lines Press(const std::string& date) {
        form.EditDate.Text = date;
        form.ListBoxResult.Items.Clear();
        EXPECT_TRUE(form.RunHandler([&] { form.bTestDate.Click(); }));
        return form.ListBoxResult.Items.Copy();
    }

    std::string oldLocale_;
    testing::RecordingHost host;
    TFormTestWL form{host};
};

TEST_F(DateSelfTest, ASingleDateReadsAsThatDayEveryWay) {
    EXPECT_EQ(Press("20261207"), (Lines{"VarToStr:2026-12-07", "VariantValue(True):2026-12-07",
                                        "VariantValue(False):20261207", "UnicodeValue:20261207",
                                        "DateTimeFrom:2026-12-07", "DateTimeTo:2026-12-07"}));
}

TEST_F(DateSelfTest, ARangeGivesItsTwoEnds) {
    const Lines lines = Press("20261201-20261207");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "VariantValue(False):20261201-20261207");
    EXPECT_EQ(lines[3], "UnicodeValue:20261201-20261207");
    EXPECT_EQ(lines[4], "DateTimeFrom:2026-12-01");
    EXPECT_EQ(lines[5], "DateTimeTo:2026-12-07");
}

TEST_F(DateSelfTest, AnOpenRangeFallsBackToTheDefaultDates) {
    const Lines from = Press("20261201-");
    ASSERT_EQ(from.size(), 6u);
    EXPECT_EQ(from[4], "DateTimeFrom:2026-12-01");
    EXPECT_EQ(from[5], "DateTimeTo:2199-12-31");
    const Lines to = Press("-20261207");
    ASSERT_EQ(to.size(), 6u);
    EXPECT_EQ(to[4], "DateTimeFrom:1980-01-01");
    EXPECT_EQ(to[5], "DateTimeTo:2026-12-07");
}

TEST_F(DateSelfTest, AnEmptyFieldStillGivesSixLines) {
    EXPECT_EQ(Press(""),
              (Lines{"VarToStr:", "VariantValue(True):", "VariantValue(False):", "UnicodeValue:",
                     "DateTimeFrom:1980-01-01", "DateTimeTo:2199-12-31"}));
}

TEST_F(DateSelfTest, PressingTwiceAppendsTwelveLinesInTheSameOrder) {
    form.ListBoxResult.Items.Add("kept");
    form.EditDate.Text = "20261207";
    ASSERT_TRUE(form.RunHandler([&] { form.bTestDate.Click(); }));
    ASSERT_TRUE(form.RunHandler([&] { form.bTestDate.Click(); }));
    const Lines& lines = form.ListBoxResult.Items.Copy();
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "kept");
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(lines[1 + i], lines[7 + i]);
    EXPECT_EQ(lines[1].rfind("VarToStr:", 0), 0u);
    EXPECT_EQ(lines[12].rfind("DateTimeTo:", 0), 0u);
}

TEST_F(DateSelfTest, AFrenchLocaleShowsFrenchDates) {
    if (std::setlocale(LC_ALL, "fr_FR.UTF-8") == nullptr) GTEST_SKIP() << "no fr_FR.UTF-8";
    const Lines lines = Press("20261207");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "VarToStr:07/12/2026");
    EXPECT_EQ(lines[4], "DateTimeFrom:07/12/2026");
}

}  // namespace
}  // namespace lumo::app
