#include "dicom/data/detail/ValueText.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "dicom/data/detail/DataErrors.h"
#include "dicom/data/detail/DicomDateText.h"
#include "dicom/data/detail/VrRules.h"
#include "support/DateTime.h"

namespace lumo::dicom::detail {

namespace {

constexpr VrCode kDA = MakeVr("DA"), kDS = MakeVr("DS"), kDT = MakeVr("DT"), kFD = MakeVr("FD"),
                 kFL = MakeVr("FL"), kSL = MakeVr("SL"), kSS = MakeVr("SS"), kSV = MakeVr("SV"),
                 kTM = MakeVr("TM"), kUL = MakeVr("UL"), kUS = MakeVr("US"), kUV = MakeVr("UV");

std::string IntegerText(long long value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

template <typename T>
std::string ShortestText(T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// A decimal string holds at most 16 characters: the shortest exact form when
// it fits, otherwise the most precise form that does.
std::string DecimalStringText(double value) {
    std::string text = ShortestText(value);
    for (int precision = 16; text.size() > 16 && precision > 0; --precision) {
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                          std::chars_format::general, precision);
        text.assign(buffer, result.ptr);
    }
    return text;
}

std::optional<std::int64_t> ReadInteger(std::string_view text) {
    text = TrimmedValue(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ReadFloat(std::string_view text) {
    text = TrimmedValue(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Values as a tag of this VR holds them.
class VrWriter final : public ScalarWriter {
  public:
    explicit VrWriter(VrCode vr) : vr_(vr) {}

    std::string Integer(std::int64_t value) const override {
        if (IsMomentVr()) return DateTimeText(vr_, static_cast<TDateTime>(value));
        return IntegerText(value);
    }

    std::string Float(double value) const override {
        if (IsMomentVr()) return DateTimeText(vr_, value);
        if (IsIntegerVr(vr_)) {
            if (!std::isfinite(value) ||
                std::fabs(value) >= static_cast<double>(std::numeric_limits<std::int64_t>::max())) {
                ThrowCastError(Variant::Type::Float, "Int64");
            }
            return IntegerText(std::llround(value));
        }
        if (vr_ == kDS) return DecimalStringText(value);
        if (vr_ == kFL) return ShortestText(static_cast<float>(value));
        return ShortestText(value);
    }

    std::string Boolean(bool value) const override { return value ? "1" : "0"; }

    std::string DateTime(TDateTime value, Variant::Moment) const override {
        if (IsIntegerVr(vr_)) return IntegerText(static_cast<long long>(std::floor(value)));
        if (IsFloatVr(vr_)) return vr_ == kDS ? DecimalStringText(value) : ShortestText(value);
        return DateTimeText(vr_, value);
    }

  private:
    bool IsMomentVr() const { return vr_ == kDA || vr_ == kTM || vr_ == kDT; }

    VrCode vr_;
};

}  // namespace

std::vector<std::string_view> SplitValues(VrCode vr, std::string_view text) {
    std::vector<std::string_view> values;
    if (text.empty()) return values;
    if (!HoldsSeveralValues(vr)) {
        values.push_back(text);
        return values;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = text.find('\\', start);
        if (slash == std::string_view::npos) {
            values.push_back(text.substr(start));
            return values;
        }
        values.push_back(text.substr(start, slash - start));
        start = slash + 1;
    }
}

Variant TypedValue(VrCode vr, std::string_view text) {
    if (text.empty()) return Variant();
    std::optional<TDateTime> moment;
    Variant::Moment kind = Variant::Moment::DateTime;
    if (vr == kDA) {
        moment = ParseDate(text);
        kind = Variant::Moment::Date;
    } else if (vr == kTM) {
        moment = ParseTime(text);
        kind = Variant::Moment::Time;
    } else if (vr == kDT) {
        moment = ParseDateTimeValue(text);
    } else if (IsIntegerVr(vr)) {
        if (const auto number = ReadInteger(text)) return Variant::Integer(*number);
        return Variant(std::string(text));
    } else if (IsFloatVr(vr)) {
        if (const auto number = ReadFloat(text)) return Variant::Float(*number);
        return Variant(std::string(text));
    } else {
        return Variant(std::string(text));
    }
    if (moment) return Variant::DateTime(*moment, kind);
    return Variant(std::string(text));
}

std::string ValueText(VrCode vr, const Variant& value) { return WrittenText(value, VrWriter(vr)); }

bool FitsBinaryVr(VrCode vr, std::string_view text) {
    struct Limits {
        VrCode vr;
        double low;
        double high;
    };
    static constexpr Limits kIntegers[] = {
        {kUS, 0, 65535},
        {kSS, -32768, 32767},
        {kUL, 0, 4294967295.0},
        {kSL, -2147483648.0, 2147483647},
    };
    const bool isFloat = vr == kFL || vr == kFD;
    const bool isWide = vr == kSV || vr == kUV;
    const Limits* limits = nullptr;
    for (const Limits& candidate : kIntegers) {
        if (candidate.vr == vr) limits = &candidate;
    }
    if (limits == nullptr && !isFloat && !isWide) return true;
    for (std::string_view value : SplitValues(vr, text)) {
        if (isFloat) {
            if (!ReadFloat(value)) return false;
        } else if (vr == kUV) {
            // The one VR beyond int64: unsigned 64-bit.
            std::string_view digits = TrimmedValue(value);
            std::uint64_t number = 0;
            const auto result =
                std::from_chars(digits.data(), digits.data() + digits.size(), number);
            if (digits.empty() || result.ec != std::errc() ||
                result.ptr != digits.data() + digits.size()) {
                return false;
            }
        } else {
            const auto number = ReadInteger(value);
            if (!number) return false;
            if (limits != nullptr && (static_cast<double>(*number) < limits->low ||
                                      static_cast<double>(*number) > limits->high)) {
                return false;
            }
        }
    }
    return true;
}

std::string WrittenText(const Variant& value, const ScalarWriter& scalars) {
    switch (value.GetType()) {
        case Variant::Type::Null:
            return std::string();
        case Variant::Type::Text:
            return value.AsText();
        case Variant::Type::Integer:
            return scalars.Integer(value.AsInteger());
        case Variant::Type::Float:
            return scalars.Float(value.AsFloat());
        case Variant::Type::Boolean:
            return scalars.Boolean(value.AsBoolean());
        case Variant::Type::DateTime:
            return scalars.DateTime(value.AsDateTime(), value.MomentOf());
        case Variant::Type::Array: {
            std::string text;
            bool first = true;
            for (const Variant& item : value.AsArray()) {
                if (!first) text += '\\';
                first = false;
                text += WrittenText(item, scalars);
            }
            return text;
        }
        case Variant::Type::Collection:
            break;
    }
    ThrowCastError(value.GetType(), "String");
}

}  // namespace lumo::dicom::detail
