#include "dicom/data/detail/DicomDateText.h"

#include <algorithm>
#include <cmath>

#include "dicom/data/detail/VrRules.h"

namespace lumo::dicom::detail {

namespace {

constexpr VrCode kDA = MakeVr("DA"), kDT = MakeVr("DT"), kTM = MakeVr("TM");

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

std::optional<TDateTime> ParseDate(std::string_view text) {
    text = TrimmedValue(text);
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
    text = TrimmedValue(text);
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
    text = TrimmedValue(text);
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

DateRange ParseDateRange(VrCode vr, std::string_view text) {
    const Reader read = RangeReader(vr);
    text = TrimmedValue(text);
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

std::string DateTimeText(VrCode vr, TDateTime value) {
    if (vr == kDA) return DateText(value);
    if (vr == kTM) return TimeText(value);
    if (vr == kDT) return DateText(value) + TimeText(value);
    const bool hasTime = value != std::floor(value);
    if (value >= 0 && value < 1 && hasTime) return TimeText(value);
    return hasTime ? DateText(value) + TimeText(value) : DateText(value);
}

}  // namespace lumo::dicom::detail
