#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "dicom/data/DicomDataSets.h"
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

TEST(Variant, KindsOfValue) {
    EXPECT_TRUE(Variant().IsNull());
    EXPECT_TRUE(Variant(static_cast<const char*>(nullptr)).IsNull());
    EXPECT_EQ(Variant("").GetType(), Variant::Type::Text);
    EXPECT_EQ(Variant(std::string("CT")).AsText(), "CT");
    EXPECT_EQ(Variant::Integer(-42).AsInteger(), -42);
    EXPECT_DOUBLE_EQ(Variant::Float(2.5).AsFloat(), 2.5);
    EXPECT_TRUE(Variant::Boolean(true).AsBoolean());
    EXPECT_DOUBLE_EQ(Variant::DateTime(46363.5).AsDateTime(), 46363.5);
    EXPECT_EQ(Variant(std::vector<Variant>{"a", Variant::Integer(1)}).AsArray().size(), 2u);
    EXPECT_EQ(Variant(DicomDataSets()).GetType(), Variant::Type::Collection);
}

TEST(Variant, ADateTimeIsNotAFloat) {
    // Both hold a double; the type tells them apart.
    EXPECT_EQ(Variant::DateTime(1.5).GetType(), Variant::Type::DateTime);
    EXPECT_EQ(Variant::Float(1.5).GetType(), Variant::Type::Float);
    ExpectError([] { Variant::DateTime(1.5).AsFloat(); }, "EVariantTypeCastError",
                "Could not convert variant of type (Date) into type (Double)");
}

TEST(Variant, IntegerWidensToFloat) { EXPECT_DOUBLE_EQ(Variant::Integer(3).AsFloat(), 3.0); }

TEST(Variant, CollectionIsSharedNotCopied) {
    DicomDataSets items;
    const Variant value(items);
    items.DataSetsAppend(DicomDataSet());
    EXPECT_EQ(value.AsCollection().DataSetsCount(), 1);
    EXPECT_TRUE(value.AsCollection().SameAs(items));
}

TEST(Variant, WrongTypeRaisesCastError) {
    ExpectError([] { Variant().AsCollection(); }, "EVariantTypeCastError",
                "Could not convert variant of type (Null) into type (DataSets)");
    ExpectError([] { Variant("x").AsCollection(); }, "EVariantTypeCastError",
                "Could not convert variant of type (String) into type (DataSets)");
    ExpectError([] { Variant().AsText(); }, "EVariantTypeCastError",
                "Could not convert variant of type (Null) into type (String)");
    ExpectError([] { Variant("12").AsInteger(); }, "EVariantTypeCastError",
                "Could not convert variant of type (String) into type (Int64)");
    ExpectError([] { Variant::Float(1).AsDateTime(); }, "EVariantTypeCastError",
                "Could not convert variant of type (Double) into type (Date)");
    ExpectError([] { Variant::Integer(1).AsBoolean(); }, "EVariantTypeCastError",
                "Could not convert variant of type (Int64) into type (Boolean)");
    ExpectError([] { Variant::Boolean(false).AsArray(); }, "EVariantTypeCastError",
                "Could not convert variant of type (Boolean) into type (Array)");
}

TEST(VarToStr, PlainValues) {
    EXPECT_EQ(VarToStr(Variant()), "");
    EXPECT_EQ(VarToStr(Variant("  Dupont ")), "  Dupont ");
    EXPECT_EQ(VarToStr(Variant::Integer(-42)), "-42");
    EXPECT_EQ(VarToStr(Variant::Boolean(true)), "True");
    EXPECT_EQ(VarToStr(Variant::Boolean(false)), "False");
}

// Puts the C locale in place for one test and restores the one before.
class CLocale {
  public:
    CLocale() : previous_(std::setlocale(LC_ALL, nullptr)) { std::setlocale(LC_ALL, "C"); }
    ~CLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    CLocale(const CLocale&) = delete;
    CLocale& operator=(const CLocale&) = delete;

  private:
    std::string previous_;
};

TEST(VarToStr, FloatsAndDatesInTheCLocale) {
    const CLocale locale;
    EXPECT_EQ(VarToStr(Variant::Float(2.5)), "2.5");
    EXPECT_EQ(VarToStr(Variant::DateTime(EncodeDate(2026, 12, 7))), "2026-12-07");
    EXPECT_EQ(VarToStr(Variant::DateTime(EncodeDateTime(2026, 12, 7, 14, 5, 9))),
              "2026-12-07 14:05:09");
    EXPECT_EQ(VarToStr(Variant::DateTime(EncodeTime(14, 5, 9, 0))), "14:05:09");
}

TEST(VarToStr, ArrayJoinsItsValuesWithBackslashes) {
    const Variant values(std::vector<Variant>{"CT", Variant(), Variant::Integer(3)});
    EXPECT_EQ(VarToStr(values), "CT\\\\3");
}

TEST(VarToStr, CollectionHasNoText) {
    ExpectError([] { VarToStr(Variant(DicomDataSets())); }, "EVariantTypeCastError",
                "Could not convert variant of type (DataSets) into type (String)");
}

}  // namespace
}  // namespace lumo::dicom
