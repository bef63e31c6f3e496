#include "dicom/data/detail/DicomValueText.h"

#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dctag.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "support/Exception.h"

namespace lumo::dicom::detail {

namespace {

constexpr VrCode kAT = MakeVr("AT"), kDA = MakeVr("DA"), kDS = MakeVr("DS"), kDT = MakeVr("DT"),
                 kFD = MakeVr("FD"), kFL = MakeVr("FL"), kIS = MakeVr("IS"), kLO = MakeVr("LO"),
                 kLT = MakeVr("LT"), kOB = MakeVr("OB"), kOD = MakeVr("OD"), kOF = MakeVr("OF"),
                 kOL = MakeVr("OL"), kOV = MakeVr("OV"), kOW = MakeVr("OW"), kPN = MakeVr("PN"),
                 kSH = MakeVr("SH"), kSL = MakeVr("SL"), kSQ = MakeVr("SQ"), kSS = MakeVr("SS"),
                 kST = MakeVr("ST"), kSV = MakeVr("SV"), kTM = MakeVr("TM"), kUC = MakeVr("UC"),
                 kUL = MakeVr("UL"), kUN = MakeVr("UN"), kUR = MakeVr("UR"), kUS = MakeVr("US"),
                 kUT = MakeVr("UT"), kUV = MakeVr("UV");

bool IsIntegerVr(VrCode vr) {
    return vr == kIS || vr == kUS || vr == kUL || vr == kSS || vr == kSL || vr == kSV || vr == kUV;
}

bool IsFloatVr(VrCode vr) { return vr == kDS || vr == kFL || vr == kFD; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

// Reads exactly `count` decimal digits at `pos`.
bool ReadDigits(std::string_view text, std::size_t pos, std::size_t count, int& out) {
    if (pos + count > text.size()) return false;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

bool AllDigits(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool ValidDate(int year, int month, int day) {
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

// A fraction of a second written after the dot: 1 to 6 digits, read to the
// millisecond (the resolution of a TDateTime as the program formats it).
bool ReadFraction(std::string_view digits, int& milliseconds) {
    if (digits.empty() || digits.size() > 6 || !AllDigits(digits)) return false;
    int micro = 0;
    for (std::size_t i = 0; i < 6; ++i)
        micro = micro * 10 + (i < digits.size() ? digits[i] - '0' : 0);
    milliseconds = micro / 1000;
    return true;
}

// HH[MM[SS[.F]]] with every component optional from the right.
bool ReadTimeOfDay(std::string_view text, int& hour, int& minute, int& second, int& ms) {
    hour = minute = second = ms = 0;
    std::string_view main = text;
    std::string_view fraction;
    if (const auto dot = text.find('.'); dot != std::string_view::npos) {
        main = text.substr(0, dot);
        fraction = text.substr(dot + 1);
        if (main.size() != 6 || !ReadFraction(fraction, ms)) return false;
    }
    if (main.size() != 2 && main.size() != 4 && main.size() != 6) return false;
    if (!ReadDigits(main, 0, 2, hour)) return false;
    if (main.size() >= 4 && !ReadDigits(main, 2, 2, minute)) return false;
    if (main.size() == 6 && !ReadDigits(main, 4, 2, second)) return false;
    return hour < 24 && minute < 60 && second < 60;
}

// A "+ZZXX" or "-ZZXX" offset from UTC, checked and then ignored: the
// program shows times as the node wrote them.
bool ValidUtcOffset(std::string_view offset) {
    int hours = 0;
    int minutes = 0;
    if (offset.size() != 5 || (offset[0] != '+' && offset[0] != '-')) return false;
    if (!ReadDigits(offset, 1, 2, hours) || !ReadDigits(offset, 3, 2, minutes)) return false;
    return hours <= 14 && minutes < 60;
}

std::string Digits(long long value, int width) {
    std::string text = std::to_string(value < 0 ? -value : value);
    if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), '0');
    return value < 0 ? "-" + text : text;
}

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

std::string DateText(TDateTime value) {
    int year = 0, month = 0, day = 0;
    DecodeDate(value, year, month, day);
    return Digits(year, 4) + Digits(month, 2) + Digits(day, 2);
}

std::string TimeText(TDateTime value) {
    int hour = 0, minute = 0, second = 0, ms = 0;
    DecodeTime(value, hour, minute, second, ms);
    std::string text = Digits(hour, 2) + Digits(minute, 2) + Digits(second, 2);
    if (ms != 0) text += "." + Digits(ms, 3);
    return text;
}

std::string DateTimeText(VrCode vr, TDateTime value) {
    if (vr == kDA) return DateText(value);
    if (vr == kTM) return TimeText(value);
    if (vr == kDT) return DateText(value) + TimeText(value);
    const bool hasTime = value != std::floor(value);
    if (value >= 0 && value < 1 && hasTime) return TimeText(value);
    return hasTime ? DateText(value) + TimeText(value) : DateText(value);
}

std::optional<std::int64_t> ReadInteger(std::string_view text) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ReadFloat(std::string_view text) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

using Reader = std::optional<TDateTime> (*)(std::string_view);

std::optional<TDateTime> ReadDateOrDateTime(std::string_view text) {
    if (auto date = ParseDate(text)) return date;
    return ParseDateTimeValue(text);
}

Reader RangeReader(VrCode vr) {
    if (vr == kDA) return ParseDate;
    if (vr == kTM) return ParseTime;
    if (vr == kDT) return ParseDateTimeValue;
    return ReadDateOrDateTime;
}

}  // namespace

std::string VrText(VrCode vr) {
    return std::string{static_cast<char>(vr >> 8), static_cast<char>(vr & 0xFF)};
}

VrCode VrFromText(const char* letters) {
    if (letters == nullptr || letters[0] == '\0' || letters[1] == '\0') return kUN;
    return static_cast<VrCode>((static_cast<unsigned char>(letters[0]) << 8) |
                               static_cast<unsigned char>(letters[1]));
}

VrCode VrFromDcmtk(DcmEVR evr) {
    switch (evr) {
        case EVR_xs:
            return kUS;
        case EVR_ox:
        case EVR_px:
        case EVR_lt:
        case EVR_PixelData:
        case EVR_OverlayData:
            return kOW;
        case EVR_up:
            return kUL;
        case EVR_pixelSQ:
            return kSQ;
        case EVR_UNKNOWN:
        case EVR_UNKNOWN2B:
        case EVR_na:
            return kLO;
        default:
            break;
    }
    const char* name = DcmVR(evr).getValidVRName();
    return VrFromText(name);
}

DcmEVR VrToDcmtk(VrCode vr) {
    const std::string name = VrText(vr);
    const DcmEVR evr = DcmVR(name.c_str()).getEVR();
    return evr == EVR_UNKNOWN ? EVR_UN : evr;
}

VrCode DictionaryVr(std::uint32_t tag) {
    static const bool loaded = dcmDataDict.isDictionaryLoaded();
    if (!loaded) {
        throw Exception(ErrorClass::EDicomError,
                        "The DICOM data dictionary is not loaded (DCMTK's dicom.dic; see "
                        "DCMDICTPATH)");
    }
    const DcmTag dcmTag(TagGroup(tag), TagElement(tag));
    return VrFromDcmtk(dcmTag.getEVR());
}

bool HoldsSeveralValues(VrCode vr) {
    return vr != kLT && vr != kST && vr != kUT && vr != kUR && vr != kSQ;
}

bool IsCharsetText(VrCode vr) {
    return vr == kSH || vr == kLO || vr == kST || vr == kLT || vr == kUT || vr == kPN || vr == kUC;
}

bool IsKeptRaw(VrCode vr) {
    return vr == kOB || vr == kOW || vr == kOF || vr == kOD || vr == kOL || vr == kOV ||
           vr == kUN || vr == kAT;
}

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

std::optional<TDateTime> ParseDate(std::string_view text) {
    text = TrimBlanks(text);
    int year = 0, month = 0, day = 0;
    if (text.size() == 8) {
        if (!ReadDigits(text, 0, 4, year) || !ReadDigits(text, 4, 2, month) ||
            !ReadDigits(text, 6, 2, day)) {
            return std::nullopt;
        }
    } else if (text.size() == 10 && text[4] == '.' && text[7] == '.') {
        // The dotted form of older nodes, yyyy.mm.dd.
        if (!ReadDigits(text, 0, 4, year) || !ReadDigits(text, 5, 2, month) ||
            !ReadDigits(text, 8, 2, day)) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    if (!ValidDate(year, month, day)) return std::nullopt;
    return EncodeDate(year, month, day);
}

std::optional<TDateTime> ParseTime(std::string_view text) {
    text = TrimBlanks(text);
    std::string plain;
    if (text.find(':') != std::string_view::npos) {
        // The colon form of older nodes, hh:mm:ss.frac.
        if (text.size() < 5 || text[2] != ':' || (text.size() > 5 && text[5] != ':')) {
            return std::nullopt;
        }
        plain = std::string(text.substr(0, 2)) + std::string(text.substr(3, 2));
        if (text.size() > 5) plain += std::string(text.substr(6));
        text = plain;
    }
    int hour = 0, minute = 0, second = 0, ms = 0;
    if (!ReadTimeOfDay(text, hour, minute, second, ms)) return std::nullopt;
    return EncodeTime(hour, minute, second, ms);
}

std::optional<TDateTime> ParseDateTimeValue(std::string_view text) {
    text = TrimBlanks(text);
    if (const auto sign = text.find_first_of("+-", 4); sign != std::string_view::npos) {
        if (!ValidUtcOffset(text.substr(sign))) return std::nullopt;
        text = text.substr(0, sign);
    }
    std::string_view datePart = text.substr(0, std::min<std::size_t>(text.size(), 8));
    if (datePart.size() != 4 && datePart.size() != 6 && datePart.size() != 8) return std::nullopt;
    int year = 0, month = 1, day = 1;
    if (!ReadDigits(datePart, 0, 4, year)) return std::nullopt;
    if (datePart.size() >= 6 && !ReadDigits(datePart, 4, 2, month)) return std::nullopt;
    if (datePart.size() == 8 && !ReadDigits(datePart, 6, 2, day)) return std::nullopt;
    if (!ValidDate(year, month, day)) return std::nullopt;
    int hour = 0, minute = 0, second = 0, ms = 0;
    if (text.size() > 8) {
        if (datePart.size() != 8) return std::nullopt;
        if (!ReadTimeOfDay(text.substr(8), hour, minute, second, ms)) return std::nullopt;
    }
    return EncodeDateTime(year, month, day, hour, minute, second, ms);
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

std::string ValueText(VrCode vr, const Variant& value) {
    switch (value.GetType()) {
        case Variant::Type::Null:
            return std::string();
        case Variant::Type::Text:
            return value.AsText();
        case Variant::Type::Boolean:
            return value.AsBoolean() ? "1" : "0";
        case Variant::Type::Integer: {
            const std::int64_t number = value.AsInteger();
            if (vr == kDA || vr == kTM || vr == kDT) {
                return DateTimeText(vr, static_cast<TDateTime>(number));
            }
            return IntegerText(number);
        }
        case Variant::Type::Float: {
            const double number = value.AsFloat();
            if (vr == kDA || vr == kTM || vr == kDT) return DateTimeText(vr, number);
            if (IsIntegerVr(vr)) {
                if (!std::isfinite(number) ||
                    std::fabs(number) >=
                        static_cast<double>(std::numeric_limits<std::int64_t>::max())) {
                    ThrowCastError(Variant::Type::Float, "Int64");
                }
                return IntegerText(std::llround(number));
            }
            if (vr == kDS) return DecimalStringText(number);
            if (vr == kFL) return ShortestText(static_cast<float>(number));
            return ShortestText(number);
        }
        case Variant::Type::DateTime: {
            const TDateTime moment = value.AsDateTime();
            if (IsIntegerVr(vr)) return IntegerText(static_cast<long long>(std::floor(moment)));
            if (IsFloatVr(vr)) return vr == kDS ? DecimalStringText(moment) : ShortestText(moment);
            return DateTimeText(vr, moment);
        }
        case Variant::Type::Array: {
            std::string text;
            bool first = true;
            for (const Variant& item : value.AsArray()) {
                if (!first) text += '\\';
                first = false;
                text += ValueText(vr, item);
            }
            return text;
        }
        case Variant::Type::Collection:
            ThrowCastError(Variant::Type::Collection, "String");
    }
    return std::string();
}

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
            std::string_view digits = TrimBlanks(value);
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

DateRange ParseDateRange(VrCode vr, std::string_view text) {
    const Reader read = RangeReader(vr);
    text = TrimBlanks(text);
    DateRange range;
    if (text.empty()) return range;
    if (text.find('-') == std::string_view::npos || (vr == kDT && read(text))) {
        range.start = read(text);
        range.end = range.start;
        return range;
    }
    // The hyphen that splits the range is the first one whose two sides read
    // (an offset from UTC inside a DT also uses a hyphen).
    for (std::size_t hyphen = text.find('-'); hyphen != std::string_view::npos;
         hyphen = text.find('-', hyphen + 1)) {
        const std::string_view left = text.substr(0, hyphen);
        const std::string_view right = text.substr(hyphen + 1);
        const auto start = left.empty() ? std::nullopt : read(left);
        const auto end = right.empty() ? std::nullopt : read(right);
        if ((left.empty() || start) && (right.empty() || end)) {
            range.start = start;
            range.end = end;
            return range;
        }
    }
    // No clean split: read what each side of the first hyphen gives.
    const std::size_t hyphen = text.find('-');
    range.start = read(text.substr(0, hyphen));
    range.end = read(text.substr(hyphen + 1));
    return range;
}

void ThrowIndexOutOfBounds(int index) {
    throw Exception(ErrorClass::EDicomError,
                    "List index out of bounds (" + std::to_string(index) + ")");
}

const char* VariantTypeName(Variant::Type type) {
    switch (type) {
        case Variant::Type::Null:
            return "Null";
        case Variant::Type::Text:
            return "String";
        case Variant::Type::Integer:
            return "Int64";
        case Variant::Type::Float:
            return "Double";
        case Variant::Type::Boolean:
            return "Boolean";
        case Variant::Type::DateTime:
            return "Date";
        case Variant::Type::Array:
            return "Array";
        case Variant::Type::Collection:
            return "DataSets";
    }
    return "Unknown";
}

void ThrowCastError(Variant::Type from, const char* to) {
    throw Exception(ErrorClass::EVariantTypeCastError,
                    std::string("Could not convert variant of type (") + VariantTypeName(from) +
                        ") into type (" + to + ")");
}

}  // namespace lumo::dicom::detail
