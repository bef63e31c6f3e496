#include "dicom/data/Variant.h"

#include <utility>

#include "dicom/data/detail/DataErrors.h"
#include "dicom/data/detail/ValueText.h"

namespace lumo::dicom {

namespace {

// Values as the user's locale writes them.
class LocaleWriter final : public detail::ScalarWriter {
  public:
    std::string Integer(std::int64_t value) const override { return std::to_string(value); }
    std::string Float(double value) const override { return FloatToStr(value); }
    std::string Boolean(bool value) const override { return value ? "True" : "False"; }
    std::string DateTime(TDateTime value, Variant::Moment moment) const override {
        switch (moment) {
            case Variant::Moment::Date:
                return DateToStr(value);
            case Variant::Moment::Time:
                return TimeToStr(value);
            default:
                return DateTimeToStr(value);
        }
    }
};

}  // namespace

Variant::Variant(std::string text) : value_(std::move(text)) {}

Variant::Variant(const char* text) {
    if (text != nullptr) value_ = std::string(text);
}

Variant::Variant(std::vector<Variant> values) : value_(std::move(values)) {}

Variant::Variant(DicomDataSets collection) : value_(std::move(collection)) {}

Variant Variant::Integer(std::int64_t value) {
    Variant result;
    result.value_ = value;
    return result;
}

Variant Variant::Float(double value) {
    Variant result;
    result.value_ = value;
    return result;
}

Variant Variant::Boolean(bool value) {
    Variant result;
    result.value_ = value;
    return result;
}

Variant Variant::DateTime(TDateTime value, Moment moment) {
    Variant result;
    result.value_ = DateTimeValue{value, moment};
    return result;
}

Variant::Type Variant::GetType() const {
    // The order of the alternatives in value_ follows the order of Type.
    return static_cast<Type>(value_.index());
}

const std::string& Variant::AsText() const& {
    if (const auto* text = std::get_if<std::string>(&value_)) return *text;
    detail::ThrowCastError(GetType(), "String");
}

std::string Variant::AsText() && {
    if (auto* text = std::get_if<std::string>(&value_)) return std::move(*text);
    detail::ThrowCastError(GetType(), "String");
}

std::int64_t Variant::AsInteger() const {
    if (const auto* number = std::get_if<std::int64_t>(&value_)) return *number;
    detail::ThrowCastError(GetType(), "Int64");
}

double Variant::AsFloat() const {
    if (const auto* number = std::get_if<double>(&value_)) return *number;
    // An integer widens without loss of meaning, as numeric variants do.
    if (const auto* number = std::get_if<std::int64_t>(&value_))
        return static_cast<double>(*number);
    detail::ThrowCastError(GetType(), "Double");
}

bool Variant::AsBoolean() const {
    if (const auto* flag = std::get_if<bool>(&value_)) return *flag;
    detail::ThrowCastError(GetType(), "Boolean");
}

TDateTime Variant::AsDateTime() const {
    if (const auto* moment = std::get_if<DateTimeValue>(&value_)) return moment->value;
    detail::ThrowCastError(GetType(), "Date");
}

Variant::Moment Variant::MomentOf() const {
    if (const auto* moment = std::get_if<DateTimeValue>(&value_)) return moment->moment;
    return Moment::DateTime;
}

const std::vector<Variant>& Variant::AsArray() const {
    if (const auto* values = std::get_if<std::vector<Variant>>(&value_)) return *values;
    detail::ThrowCastError(GetType(), "Array");
}

DicomDataSets Variant::AsCollection() const {
    if (const auto* collection = std::get_if<DicomDataSets>(&value_)) return *collection;
    detail::ThrowCastError(GetType(), "DataSets");
}

std::string VarToStr(const Variant& value) { return detail::WrittenText(value, LocaleWriter()); }

std::string VarToStr(Variant&& value) {
    if (value.GetType() == Variant::Type::Text) return std::move(value).AsText();
    return VarToStr(std::as_const(value));
}

}  // namespace lumo::dicom
