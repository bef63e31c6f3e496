#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "dicom/data/DicomDataSets.h"
#include "support/DateTime.h"

namespace lumo::dicom {

// The value of an attribute as the toolkit hands it out: null, a text, a
// number, a boolean, a date-time (days since 1899-12-30), an array of values
// (value multiplicity above 1) or a collection of data sets (a sequence).
// A value type; a collection inside it is a shared handle.
class Variant {
  public:
    enum class Type { Null, Text, Integer, Float, Boolean, DateTime, Array, Collection };
    // What a date-time stands for, so that its text shows what the attribute
    // holds: a date stays a date on 1899-12-30 (day 0), a time stays a time.
    enum class Moment { Date, Time, DateTime };

    Variant() = default;  // null
    Variant(std::string text);
    Variant(const char* text);
    Variant(std::vector<Variant> values);
    Variant(DicomDataSets collection);

    static Variant Integer(std::int64_t value);
    static Variant Float(double value);
    static Variant Boolean(bool value);
    static Variant DateTime(TDateTime value, Moment moment = Moment::DateTime);

    Type GetType() const;
    bool IsNull() const { return GetType() == Type::Null; }

    // Typed access; the wrong type raises EVariantTypeCastError.
    const std::string& AsText() const&;
    std::string AsText() &&;  // moves the text out of a value about to go
    std::int64_t AsInteger() const;
    double AsFloat() const;
    bool AsBoolean() const;
    TDateTime AsDateTime() const;
    Moment MomentOf() const;  // Moment::DateTime for anything but a date-time
    const std::vector<Variant>& AsArray() const;
    // A sequence's items; a null or any other value raises
    // EVariantTypeCastError, as an absent sequence cannot be walked.
    DicomDataSets AsCollection() const;

  private:
    struct DateTimeValue {
        TDateTime value;
        Moment moment;
    };
    std::variant<std::monostate, std::string, std::int64_t, double, bool, DateTimeValue,
                 std::vector<Variant>, DicomDataSets>
        value_;
};

// The general variant-to-text conversion, under the user's locale: null gives
// the empty text, integers their digits, floats the locale's form, booleans
// "True"/"False", a date DateToStr, a time TimeToStr, other date-times
// DateTimeToStr, an array its values' texts joined
// by "\"; a collection has no text form and raises EVariantTypeCastError.
std::string VarToStr(const Variant& value);
// The same; a text is moved out rather than copied.
std::string VarToStr(Variant&& value);

}  // namespace lumo::dicom
