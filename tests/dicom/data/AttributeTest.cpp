#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/Variant.h"
#include "support/DateTime.h"
#include "support/Exception.h"

namespace lumo::dicom {
namespace {

template <typename Action>
void ExpectError(Action&& action, const std::string& className, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no error raised, expected " << className << ": " << message;
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), className);
        EXPECT_EQ(e.Message(), message);
    }
}

// A data set holding one attribute added as the given text.
DicomAttribute WithText(std::uint16_t group, std::uint16_t element, const std::string& text) {
    DicomDataSet dataSet;
    dataSet.DataSetAttributes().AttributesAdd(group, element, Variant(text));
    return dataSet.DataSetAttributes().AttributesFind(group, element);
}

TEST(AttributeValue, AbsentAttributeIsNotPresentAndNull) {
    DicomDataSet dataSet;
    const DicomAttribute absent = dataSet.DataSetAttributes().AttributesFind(0x0010, 0x0010);
    EXPECT_FALSE(absent.AttributeIsPresent());
    EXPECT_TRUE(absent.AttributeValue().IsNull());
    EXPECT_FALSE(absent.AttributeIsMultiValued());
    EXPECT_EQ(absent.AttributeValueCount(), 0);
    EXPECT_EQ(absent.VR(), "");
    EXPECT_EQ(absent.Group(), 0x0010);
    EXPECT_EQ(absent.Element(), 0x0010);
    EXPECT_EQ(absent.AttributeDisplayName(), "Patient's Name");
}

TEST(AttributeValue, ZeroLengthIsPresentAndNull) {
    const DicomAttribute empty = WithText(0x0040, 0x0002, "");
    EXPECT_TRUE(empty.AttributeIsPresent());
    EXPECT_TRUE(empty.AttributeValue().IsNull());
    EXPECT_EQ(empty.AttributeValueCount(), 0);
    EXPECT_FALSE(empty.AttributeIsMultiValued());
    EXPECT_EQ(empty.VR(), "DA");
}

TEST(AttributeValue, TextVrsGiveTheTextExactlyAsAdded) {
    const DicomAttribute name = WithText(0x0010, 0x0010, " Dupont^Jean* ");
    EXPECT_EQ(name.VR(), "PN");
    ASSERT_EQ(name.AttributeValue().GetType(), Variant::Type::Text);
    EXPECT_EQ(name.AttributeValue().AsText(), " Dupont^Jean* ");
    EXPECT_EQ(WithText(0x0020, 0x000D, "1.2.3").AttributeValue().AsText(), "1.2.3");
}

TEST(AttributeValue, DateReadsAsDateTimeAtMidnight) {
    const Variant value = WithText(0x0008, 0x0020, "20261207").AttributeValue();
    ASSERT_EQ(value.GetType(), Variant::Type::DateTime);
    EXPECT_DOUBLE_EQ(value.AsDateTime(), EncodeDate(2026, 12, 7));
}

TEST(AttributeValue, OldDottedDateReadsAsDate) {
    const Variant value = WithText(0x0008, 0x0020, "2026.12.07").AttributeValue();
    ASSERT_EQ(value.GetType(), Variant::Type::DateTime);
    EXPECT_DOUBLE_EQ(value.AsDateTime(), EncodeDate(2026, 12, 7));
}

TEST(AttributeValue, TimeReadsAsTimeOfDayBelowOne) {
    const Variant value = WithText(0x0008, 0x0030, "140509").AttributeValue();
    ASSERT_EQ(value.GetType(), Variant::Type::DateTime);
    EXPECT_NEAR(value.AsDateTime(), EncodeTime(14, 5, 9, 0), 1e-9);
    EXPECT_LT(value.AsDateTime(), 1.0);
}

// The text of a date is a date whatever the day, also day 0 of the date
// type; a time is a time, midnight included (C locale: yyyy-mm-dd, hh:nn:ss).
TEST(AttributeValue, DatesAndTimesKeepTheirKindInText) {
    const struct {
        std::uint16_t group, element;
        const char* text;
        const char* shown;
    } cases[] = {
        {0x0010, 0x0030, "18991230", "1899-12-30"},
        {0x0008, 0x0020, "20261207", "2026-12-07"},
        {0x0008, 0x0030, "000000", "00:00:00"},
        {0x0008, 0x0030, "140509", "14:05:09"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VarToStr(WithText(c.group, c.element, c.text).AttributeValue()), c.shown)
            << c.text;
    }
}

TEST(AttributeValue, TimeWithFractionAndPartialTimes) {
    EXPECT_NEAR(WithText(0x0008, 0x0030, "140509.123456").AttributeValue().AsDateTime(),
                EncodeTime(14, 5, 9, 123), 1e-9);
    EXPECT_NEAR(WithText(0x0008, 0x0030, "14").AttributeValue().AsDateTime(),
                EncodeTime(14, 0, 0, 0), 1e-9);
    EXPECT_NEAR(WithText(0x0008, 0x0030, "1405").AttributeValue().AsDateTime(),
                EncodeTime(14, 5, 0, 0), 1e-9);
    EXPECT_NEAR(WithText(0x0008, 0x0030, "14:05:09").AttributeValue().AsDateTime(),
                EncodeTime(14, 5, 9, 0), 1e-9);
}

TEST(AttributeValue, DateTimeVrReadsAsDateAndTime) {
    const Variant value = WithText(0x0040, 0xA120, "20261207140509").AttributeValue();
    ASSERT_EQ(value.GetType(), Variant::Type::DateTime);
    EXPECT_NEAR(value.AsDateTime(), EncodeDateTime(2026, 12, 7, 14, 5, 9), 1e-9);
    // An offset from UTC is accepted and the time kept as written.
    EXPECT_NEAR(WithText(0x0040, 0xA120, "20261207140509+0100").AttributeValue().AsDateTime(),
                EncodeDateTime(2026, 12, 7, 14, 5, 9), 1e-9);
    EXPECT_NEAR(WithText(0x0040, 0xA120, "2026").AttributeValue().AsDateTime(),
                EncodeDate(2026, 1, 1), 1e-9);
}

TEST(AttributeValue, TextThatDoesNotReadAsItsVrStaysText) {
    // A range, an impossible date and junk never raise: they read as text.
    const Variant range = WithText(0x0040, 0x0002, "20261207-20261208").AttributeValue();
    ASSERT_EQ(range.GetType(), Variant::Type::Text);
    EXPECT_EQ(range.AsText(), "20261207-20261208");
    EXPECT_EQ(WithText(0x0008, 0x0020, "20260230").AttributeValue().AsText(), "20260230");
    EXPECT_EQ(WithText(0x0008, 0x0030, "2561").AttributeValue().AsText(), "2561");
    EXPECT_EQ(WithText(0x0020, 0x1206, "many").AttributeValue().AsText(), "many");
    EXPECT_EQ(WithText(0x0018, 0x0050, "1,5").AttributeValue().AsText(), "1,5");
    EXPECT_EQ(WithText(0x0040, 0x0002, "-").AttributeValue().AsText(), "-");
}

TEST(AttributeValue, IntegerVrsReadAsIntegers) {
    const Variant count = WithText(0x0020, 0x1206, " 12 ").AttributeValue();
    ASSERT_EQ(count.GetType(), Variant::Type::Integer);
    EXPECT_EQ(count.AsInteger(), 12);
    const Variant rows = WithText(0x0028, 0x0010, "512").AttributeValue();
    ASSERT_EQ(rows.GetType(), Variant::Type::Integer);
    EXPECT_EQ(rows.AsInteger(), 512);
    EXPECT_EQ(WithText(0x0020, 0x0013, "-3").AttributeValue().AsInteger(), -3);
}

TEST(AttributeValue, DecimalAndFloatVrsReadAsFloats) {
    const Variant thickness = WithText(0x0018, 0x0050, "2.5").AttributeValue();
    ASSERT_EQ(thickness.GetType(), Variant::Type::Float);
    EXPECT_DOUBLE_EQ(thickness.AsFloat(), 2.5);
    EXPECT_DOUBLE_EQ(WithText(0x0018, 0x0050, "1e3").AttributeValue().AsFloat(), 1000.0);
}

TEST(AttributeValue, MultipleValuesGiveAnArrayOfTypedValues) {
    const DicomAttribute modalities = WithText(0x0008, 0x0061, "CT\\MR\\PT");
    EXPECT_TRUE(modalities.AttributeIsMultiValued());
    EXPECT_EQ(modalities.AttributeValueCount(), 3);
    const Variant value = modalities.AttributeValue();
    ASSERT_EQ(value.GetType(), Variant::Type::Array);
    ASSERT_EQ(value.AsArray().size(), 3u);
    EXPECT_EQ(value.AsArray()[2].AsText(), "PT");
    EXPECT_EQ(modalities.AttributeValueAt(1).AsText(), "CT");
    EXPECT_EQ(modalities.AttributeValueAt(3).AsText(), "PT");

    const DicomAttribute spacing = WithText(0x0028, 0x0030, "0.5\\0.25");
    EXPECT_DOUBLE_EQ(spacing.AttributeValueAt(2).AsFloat(), 0.25);
}

TEST(AttributeValue, EmptyValueInsideSeveralIsNull) {
    const DicomAttribute modalities = WithText(0x0008, 0x0061, "CT\\\\PT");
    EXPECT_EQ(modalities.AttributeValueCount(), 3);
    EXPECT_TRUE(modalities.AttributeValueAt(2).IsNull());
}

TEST(AttributeValue, BackslashInLongTextIsPartOfTheText) {
    const DicomAttribute comments = WithText(0x0040, 0x1400, "a\\b");
    EXPECT_EQ(comments.VR(), "LT");
    EXPECT_FALSE(comments.AttributeIsMultiValued());
    EXPECT_EQ(comments.AttributeValue().AsText(), "a\\b");
}

TEST(AttributeValue, ValueAtOutOfRangeRaises) {
    const DicomAttribute modalities = WithText(0x0008, 0x0061, "CT\\MR");
    ExpectError([&] { modalities.AttributeValueAt(3); }, "EDicomError",
                "List index out of bounds (3)");
    ExpectError([&] { modalities.AttributeValueAt(0); }, "EDicomError",
                "List index out of bounds (0)");
    const DicomAttribute single = WithText(0x0008, 0x0060, "CT");
    EXPECT_EQ(single.AttributeValueCount(), 1);
    EXPECT_EQ(single.AttributeValueAt(1).AsText(), "CT");
    const DicomAttribute empty = WithText(0x0008, 0x0060, "");
    ExpectError([&] { empty.AttributeValueAt(1); }, "EDicomError", "List index out of bounds (1)");
}

TEST(AttributeValue, UnknownAndPrivateTagsAreKeptAsLongStrings) {
    const DicomAttribute privateTag = WithText(0x0029, 0x1010, "vendor");
    EXPECT_EQ(privateTag.VR(), "LO");
    EXPECT_EQ(privateTag.AttributeValue().AsText(), "vendor");
}

TEST(AttributeAdd, NumbersAreWrittenInTheTagsVr) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(0x0020, 0x1206, Variant::Integer(7));
    attributes.AttributesAdd(0x0018, 0x0050, Variant::Float(1.25));
    attributes.AttributesAdd(0x0028, 0x0010, Variant::Float(511.6));
    attributes.AttributesAdd(0x0010, 0x1030, Variant::Float(1.0 / 3.0));
    EXPECT_EQ(attributes.AttributesFind(0x0020, 0x1206).AttributeWideValue().AsText(), "7");
    EXPECT_EQ(attributes.AttributesFind(0x0018, 0x0050).AttributeWideValue().AsText(), "1.25");
    EXPECT_EQ(attributes.AttributesFind(0x0028, 0x0010).AttributeWideValue().AsText(), "512");
    // A decimal string holds at most 16 characters.
    const std::string third =
        attributes.AttributesFind(0x0010, 0x1030).AttributeWideValue().AsText();
    EXPECT_LE(third.size(), 16u);
    EXPECT_EQ(third.substr(0, 6), "0.3333");
}

TEST(AttributeAdd, DateTimesAreWrittenInTheTagsVr) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    const TDateTime moment = EncodeDateTime(2026, 12, 7, 14, 5, 9);
    attributes.AttributesAdd(0x0008, 0x0020, Variant::DateTime(moment));
    attributes.AttributesAdd(0x0008, 0x0030, Variant::DateTime(moment));
    attributes.AttributesAdd(0x0040, 0xA120, Variant::DateTime(moment));
    attributes.AttributesAdd(0x0008, 0x0031, Variant::DateTime(EncodeTime(9, 8, 7, 250)));
    EXPECT_EQ(attributes.AttributesFind(0x0008, 0x0020).AttributeWideValue().AsText(), "20261207");
    EXPECT_EQ(attributes.AttributesFind(0x0008, 0x0030).AttributeWideValue().AsText(), "140509");
    EXPECT_EQ(attributes.AttributesFind(0x0040, 0xA120).AttributeWideValue().AsText(),
              "20261207140509");
    EXPECT_EQ(attributes.AttributesFind(0x0008, 0x0031).AttributeWideValue().AsText(),
              "090807.250");
    // And they read back as the same moment.
    EXPECT_NEAR(attributes.AttributesFind(0x0040, 0xA120).AttributeValue().AsDateTime(), moment,
                1e-9);
}

TEST(AttributeAdd, NullAndArrayValues) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(0x0008, 0x0050, Variant());
    EXPECT_TRUE(attributes.AttributesFind(0x0008, 0x0050).AttributeIsPresent());
    EXPECT_TRUE(attributes.AttributesFind(0x0008, 0x0050).AttributeValue().IsNull());
    attributes.AttributesAdd(0x0008, 0x0061, Variant(std::vector<Variant>{"CT", "MR"}));
    EXPECT_EQ(attributes.AttributesFind(0x0008, 0x0061).AttributeWideValue().AsText(), "CT\\MR");
}

// The items of an array and a boolean are written in the tag's VR, not as
// VarToStr shows them.
TEST(AttributeAdd, ArrayItemsAndBooleansAreWrittenInTheTagsVr) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(
        0x0040, 0x0002,
        Variant(std::vector<Variant>{Variant::DateTime(EncodeDate(2026, 12, 7)),
                                     Variant::DateTime(EncodeDate(2026, 12, 8))}));
    attributes.AttributesAdd(0x0020, 0x1206, Variant::Boolean(true));
    EXPECT_EQ(attributes.AttributesFind(0x0040, 0x0002).AttributeWideValue().AsText(),
              "20261207\\20261208");
    EXPECT_EQ(attributes.AttributesFind(0x0020, 0x1206).AttributeWideValue().AsText(), "1");
}

TEST(AttributeAdd, TextForASequenceTagOnlyAsksForItBack) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(0x0040, 0x0100, Variant(""));
    const DicomAttribute sequence = attributes.AttributesFind(0x0040, 0x0100);
    EXPECT_EQ(sequence.VR(), "SQ");
    EXPECT_EQ(sequence.AttributeValue().AsCollection().DataSetsCount(), 0);
    ExpectError([&] { attributes.AttributesAdd(0x0040, 0x0100, Variant("x")); },
                "EVariantTypeCastError",
                "Could not convert variant of type (String) into type (DataSets)");
}

TEST(AttributeReadings, TypedWideAndRawValues) {
    const DicomAttribute date = WithText(0x0040, 0x0002, "20261207");
    EXPECT_EQ(date.AttributeTypedValue(true).GetType(), Variant::Type::DateTime);
    ASSERT_EQ(date.AttributeTypedValue(false).GetType(), Variant::Type::Text);
    EXPECT_EQ(date.AttributeTypedValue(false).AsText(), "20261207");
    EXPECT_EQ(date.AttributeWideValue().AsText(), "20261207");

    const DicomAttribute empty = WithText(0x0040, 0x0002, "");
    EXPECT_TRUE(empty.AttributeTypedValue(true).IsNull());
    EXPECT_EQ(VarToStr(empty.AttributeTypedValue(false)), "");
    EXPECT_EQ(VarToStr(empty.AttributeWideValue()), "");

    DicomDataSet dataSet;
    const DicomAttribute absent = dataSet.DataSetAttributes().AttributesFind(0x0040, 0x0002);
    EXPECT_TRUE(absent.AttributeTypedValue(false).IsNull());
    EXPECT_TRUE(absent.AttributeWideValue().IsNull());
}

TEST(AttributeReadings, RangeOfASingleDate) {
    const TDateTime fallbackStart = EncodeDate(1980, 1, 1);
    const TDateTime fallbackEnd = EncodeDate(2199, 12, 31);
    const DicomAttribute date = WithText(0x0040, 0x0002, "20261207");
    EXPECT_DOUBLE_EQ(date.AttributeRangeStart(fallbackStart), EncodeDate(2026, 12, 7));
    EXPECT_DOUBLE_EQ(date.AttributeRangeEnd(fallbackEnd), EncodeDate(2026, 12, 7));
}

TEST(AttributeReadings, RangeOfTwoDatesAndOpenEnds) {
    const TDateTime fallbackStart = EncodeDate(1980, 1, 1);
    const TDateTime fallbackEnd = EncodeDate(2199, 12, 31);
    const DicomAttribute both = WithText(0x0040, 0x0002, "20261207-20261208");
    EXPECT_DOUBLE_EQ(both.AttributeRangeStart(fallbackStart), EncodeDate(2026, 12, 7));
    EXPECT_DOUBLE_EQ(both.AttributeRangeEnd(fallbackEnd), EncodeDate(2026, 12, 8));

    const DicomAttribute from = WithText(0x0040, 0x0002, "20261207-");
    EXPECT_DOUBLE_EQ(from.AttributeRangeStart(fallbackStart), EncodeDate(2026, 12, 7));
    EXPECT_DOUBLE_EQ(from.AttributeRangeEnd(fallbackEnd), fallbackEnd);

    const DicomAttribute until = WithText(0x0040, 0x0002, "-20261208");
    EXPECT_DOUBLE_EQ(until.AttributeRangeStart(fallbackStart), fallbackStart);
    EXPECT_DOUBLE_EQ(until.AttributeRangeEnd(fallbackEnd), EncodeDate(2026, 12, 8));

    const DicomAttribute open = WithText(0x0040, 0x0002, "-");
    EXPECT_DOUBLE_EQ(open.AttributeRangeStart(fallbackStart), fallbackStart);
    EXPECT_DOUBLE_EQ(open.AttributeRangeEnd(fallbackEnd), fallbackEnd);
}

TEST(AttributeReadings, UnreadableEmptyOrAbsentRangeGivesTheDefaults) {
    const TDateTime fallbackStart = EncodeDate(1980, 1, 1);
    const TDateTime fallbackEnd = EncodeDate(2199, 12, 31);
    for (const char* text : {"", "hier", "2026120", "20261332-2026"}) {
        const DicomAttribute date = WithText(0x0040, 0x0002, text);
        EXPECT_DOUBLE_EQ(date.AttributeRangeStart(fallbackStart), fallbackStart) << text;
        EXPECT_DOUBLE_EQ(date.AttributeRangeEnd(fallbackEnd), fallbackEnd) << text;
    }
    DicomDataSet dataSet;
    const DicomAttribute absent = dataSet.DataSetAttributes().AttributesFind(0x0040, 0x0002);
    EXPECT_DOUBLE_EQ(absent.AttributeRangeStart(fallbackStart), fallbackStart);
    EXPECT_DOUBLE_EQ(absent.AttributeRangeEnd(fallbackEnd), fallbackEnd);
}

TEST(AttributeReadings, DateTimeRangeKeepsTimesAndOffsets) {
    const TDateTime fallback = EncodeDate(1980, 1, 1);
    const DicomAttribute range = WithText(0x0040, 0xA120, "20261207080000-20261207173000");
    EXPECT_NEAR(range.AttributeRangeStart(fallback), EncodeDateTime(2026, 12, 7, 8, 0, 0), 1e-9);
    EXPECT_NEAR(range.AttributeRangeEnd(fallback), EncodeDateTime(2026, 12, 7, 17, 30, 0), 1e-9);
    // A hyphen that starts an offset from UTC does not split a range.
    const DicomAttribute single = WithText(0x0040, 0xA120, "20261207080000-0500");
    EXPECT_NEAR(single.AttributeRangeStart(fallback), EncodeDateTime(2026, 12, 7, 8, 0, 0), 1e-9);
    EXPECT_NEAR(single.AttributeRangeEnd(fallback), EncodeDateTime(2026, 12, 7, 8, 0, 0), 1e-9);
}

TEST(AttributeHandle, FollowsTheDataSetAfterChanges) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    const DicomAttribute found = attributes.AttributesFind(0x0008, 0x0050);
    EXPECT_FALSE(found.AttributeIsPresent());
    attributes.AttributesAdd(0x0008, 0x0050, Variant("A1"));
    // Adding other tags moves attributes in memory; the handle still answers.
    for (std::uint16_t element = 0x0001; element < 0x0040; ++element) {
        attributes.AttributesAdd(0x0009, element, Variant("x"));
    }
    EXPECT_EQ(found.AttributeValue().AsText(), "A1");
    attributes.AttributesRemove(0x0008, 0x0050);
    EXPECT_FALSE(found.AttributeIsPresent());
}

}  // namespace
}  // namespace lumo::dicom

namespace lumo::dicom {
namespace {

// Without DCMTK's data dictionary no VR can be known: a clear error rather
// than every tag silently turned into LO. Run in a fresh process, as the
// dictionary is loaded once per process.
TEST(AttributeAddDeathTest, MissingDataDictionaryIsAClearError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("DCMDICTPATH", "/nonexistent/dicom.dic", 1);
            DicomDataSet dataSet;
            try {
                dataSet.DataSetAttributes().AttributesAdd(0x0010, 0x0010, Variant("X"));
            } catch (const Exception& e) {
                std::fprintf(stderr, "%s: %s\n", e.ClassName().c_str(), e.what());
                std::exit(3);
            }
            std::exit(0);
        },
        testing::ExitedWithCode(3),
        "EDicomError: The DICOM data dictionary is not loaded \\(DCMTK's dicom.dic; see "
        "DCMDICTPATH\\)");
}

}  // namespace
}  // namespace lumo::dicom
