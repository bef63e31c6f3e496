#include "support/DateTime.h"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>
#include <utility>

namespace lumo {

namespace {

namespace chr = std::chrono;

constexpr std::int64_t MSecsPerDay = 86400000;
// Day 0 of a TDateTime.
constexpr chr::sys_days Epoch{chr::year{1899} / chr::December / 30};
// The Gregorian calendar repeats every 400 years, which are 146097 days (a
// whole number of weeks). The calendar types stop at the years -32767 and
// 32767, so a date is moved into the cycle that starts at day 0 (or at year
// 0), converted there, and the whole cycles are added back: years far
// outside that range still count like the proleptic Gregorian calendar.
constexpr std::int64_t YearsPerCycle = 400;
constexpr std::int64_t DaysPerCycle = 146097;

std::mutex clockMutex;
std::function<TDateTime()> clockOverride;

// a / b rounded down, for b > 0.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

// The day number of the first of a month (1 to 12).
std::int64_t DayOfMonthStart(std::int64_t year, unsigned month) {
    const std::int64_t cycles = FloorDiv(year, YearsPerCycle);
    const chr::year inCycle{static_cast<int>(year - cycles * YearsPerCycle)};
    const chr::sys_days first{inCycle / chr::month{month} / 1};
    return (first - Epoch).count() + cycles * DaysPerCycle;
}

struct CivilDate {
    std::int64_t year;
    unsigned month, day;
    int dayOfWeek;  // 0 = Sunday
};

CivilDate DateOfDay(std::int64_t dayNumber) {
    const std::int64_t cycles = FloorDiv(dayNumber, DaysPerCycle);
    const chr::sys_days date = Epoch + chr::days{dayNumber - cycles * DaysPerCycle};
    const chr::year_month_day ymd{date};
    return {static_cast<int>(ymd.year()) + cycles * YearsPerCycle,
            static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
            static_cast<int>(chr::weekday{date}.c_encoding())};
}

// A date-time split into whole days and the milliseconds of the day, rounded
// to the millisecond the way the platform does it (so 23:59:59.9996 carries
// into the next day). Values beyond any calendar are clamped.
struct Stamp {
    std::int64_t days;
    std::int64_t msecs;
};

Stamp ToStamp(TDateTime value) {
    if (std::isnan(value)) value = 0;
    value = std::fmin(std::fmax(value, -1e11), 1e11);
    const auto total = static_cast<std::int64_t>(std::llround(value * MSecsPerDay));
    const std::int64_t days = total / MSecsPerDay;  // truncates towards zero
    const std::int64_t msecs = (total < 0 ? -total : total) % MSecsPerDay;
    return {days, msecs};
}

struct Fields {
    std::int64_t year;
    unsigned month, day;
    int hour, minute, second, msec;
    int dayOfWeek;  // 0 = Sunday
};

Fields Split(TDateTime value) {
    const Stamp s = ToStamp(value);
    const CivilDate date = DateOfDay(s.days);
    Fields f{};
    f.year = date.year;
    f.month = date.month;
    f.day = date.day;
    f.dayOfWeek = date.dayOfWeek;
    f.hour = static_cast<int>(s.msecs / 3600000);
    f.minute = static_cast<int>(s.msecs / 60000 % 60);
    f.second = static_cast<int>(s.msecs / 1000 % 60);
    f.msec = static_cast<int>(s.msecs % 1000);
    return f;
}

std::string Padded(std::int64_t number, int digits) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", digits, static_cast<long long>(number));
    return buffer;
}

std::string LangInfo(nl_item item) {
    const char* text = nl_langinfo(item);
    return text != nullptr ? text : "";
}

std::string MonthName(unsigned month, bool full) {
    static constexpr std::array<nl_item, 12> shortNames{ABMON_1, ABMON_2,  ABMON_3,  ABMON_4,
                                                        ABMON_5, ABMON_6,  ABMON_7,  ABMON_8,
                                                        ABMON_9, ABMON_10, ABMON_11, ABMON_12};
    static constexpr std::array<nl_item, 12> longNames{MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                                       MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
    if (month < 1 || month > 12) return {};
    return LangInfo(full ? longNames[month - 1] : shortNames[month - 1]);
}

std::string DayName(int dayOfWeek, bool full) {
    static constexpr std::array<nl_item, 7> shortNames{ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                                       ABDAY_5, ABDAY_6, ABDAY_7};
    static constexpr std::array<nl_item, 7> longNames{DAY_1, DAY_2, DAY_3, DAY_4,
                                                      DAY_5, DAY_6, DAY_7};
    if (dayOfWeek < 0 || dayOfWeek > 6) return {};
    return LangInfo(full ? longNames[dayOfWeek] : shortNames[dayOfWeek]);
}

// The C and POSIX locales have no national habit; they get ISO dates.
bool IsNeutralTimeLocale() {
    const char* name = setlocale(LC_TIME, nullptr);
    if (name == nullptr) return true;
    return std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
           std::strncmp(name, "C.", 2) == 0;
}

std::tm ToTm(const Fields& f) {
    std::tm tm{};
    tm.tm_year =
        static_cast<int>(std::fmin(std::fmax(static_cast<double>(f.year), -1e9), 1e9)) - 1900;
    tm.tm_mon = static_cast<int>(f.month) - 1;
    tm.tm_mday = static_cast<int>(f.day);
    tm.tm_hour = f.hour;
    tm.tm_min = f.minute;
    tm.tm_sec = f.second;
    tm.tm_wday = f.dayOfWeek;
    tm.tm_isdst = -1;
    return tm;
}

std::string Strftime(const std::string& format, const std::tm& tm) {
    if (format.empty()) return {};
    std::array<char, 512> buffer{};
    const std::size_t n = std::strftime(buffer.data(), buffer.size(), format.c_str(), &tm);
    return std::string(buffer.data(), n);
}

// The locale's short date format with the year always in four digits.
std::string ShortDateFormat() {
    std::string format = LangInfo(D_FMT);
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            const char c = format[++i];
            if (c == 'y') {
                out += "%Y";
            } else if (c == 'D') {
                out += "%m/%d/%Y";
            } else {
                out += '%';
                out += c;
            }
        } else {
            out += format[i];
        }
    }
    return out;
}

}  // namespace

TDateTime Now() {
    std::function<TDateTime()> clock;
    {
        const std::lock_guard lock(clockMutex);
        clock = clockOverride;
    }
    if (clock) return clock();
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto msecs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, static_cast<int>(msecs < 0 ? 0 : msecs));
}

void SetClock(std::function<TDateTime()> clock) {
    const std::lock_guard lock(clockMutex);
    clockOverride = std::move(clock);
}

TDateTime EncodeDate(int year, int month, int day) {
    // Out-of-range months and days roll over like the civil arithmetic does;
    // callers pass real dates.
    std::int64_t y = year;
    std::int64_t m = month - 1;
    y += m >= 0 ? m / 12 : (m - 11) / 12;
    m = ((m % 12) + 12) % 12;
    const std::int64_t days = DayOfMonthStart(y, static_cast<unsigned>(m + 1)) + (day - 1);
    return static_cast<TDateTime>(days);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    const std::int64_t ms =
        ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
    return static_cast<TDateTime>(ms) / MSecsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    const TDateTime date = EncodeDate(year, month, day);
    const TDateTime time = EncodeTime(hour, minute, second, millisecond);
    // Before 1899-12-30 the day counts down while the time still counts up.
    return date >= 0 ? date + time : date - time;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    const Fields f = Split(value);
    year = static_cast<int>(f.year);
    month = static_cast<int>(f.month);
    day = static_cast<int>(f.day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
    const Fields f = Split(value);
    hour = f.hour;
    minute = f.minute;
    second = f.second;
    millisecond = f.msec;
}

namespace {

// The text of one run of `k` format letters naming a field of the date.
std::string FieldText(char token, std::size_t k, const Fields& f, TDateTime value) {
    switch (token) {
        case 'Y':
            return k <= 2 ? Padded(((f.year % 100) + 100) % 100, 2) : Padded(f.year, 4);
        case 'M':
            return k <= 2 ? Padded(f.month, static_cast<int>(k)) : MonthName(f.month, k > 3);
        case 'D':
            if (k <= 2) return Padded(f.day, static_cast<int>(k));
            return k <= 4 ? DayName(f.dayOfWeek, k == 4) : DateToStr(value);
        case 'H':
            return Padded(f.hour, k >= 2 ? 2 : 1);
        case 'N':
            return Padded(f.minute, k >= 2 ? 2 : 1);
        case 'S':
            return Padded(f.second, k >= 2 ? 2 : 1);
        default:  // 'Z'
            return Padded(f.msec, k >= 3 ? 3 : static_cast<int>(k));
    }
}

}  // namespace

std::string FormatDateTime(const std::string& format, TDateTime value) {
    const Fields f = Split(value);
    // No format at all: the short date, and the long time unless midnight.
    if (format.empty()) {
        if (f.hour == 0 && f.minute == 0 && f.second == 0) return DateToStr(value);
        return DateToStr(value) + " " + TimeToStr(value);
    }
    std::string out;
    char lastToken = 0;
    std::size_t i = 0;
    const std::size_t n = format.size();
    // The length of the run of `upper` (either case) at i, which it passes.
    auto count = [&](char upper) {
        std::size_t k = i;
        while (k < n && (format[k] == upper || format[k] == upper + ('a' - 'A'))) ++k;
        const std::size_t c = k - i;
        i = k;
        return c;
    };
    while (i < n) {
        const char c = format[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = format.find(c, i + 1);
            const std::size_t end = close == std::string::npos ? n : close;
            out.append(format, i + 1, end - i - 1);
            i = end == n ? n : end + 1;
            continue;
        }
        char token = (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
        const bool letter = token >= 'A' && token <= 'Z';
        if (letter && token == 'M' && lastToken == 'H') token = 'N';
        if (std::string_view("YMDHNSZ").find(token) != std::string_view::npos) {
            // Either n's, or m's turned into minutes after an hour.
            const char run = token == 'N' && (c == 'm' || c == 'M') ? 'M' : token;
            out += FieldText(token, count(run), f, value);
        } else {
            out += c;
            ++i;
        }
        if (letter) lastToken = token;
    }
    return out;
}

std::string DateToStr(TDateTime value) {
    const Fields f = Split(value);
    if (IsNeutralTimeLocale())
        return Padded(f.year, 4) + "-" + Padded(f.month, 2) + "-" + Padded(f.day, 2);
    return Strftime(ShortDateFormat(), ToTm(f));
}

std::string TimeToStr(TDateTime value) {
    const Fields f = Split(value);
    if (IsNeutralTimeLocale())
        return Padded(f.hour, 2) + ":" + Padded(f.minute, 2) + ":" + Padded(f.second, 2);
    return Strftime(LangInfo(T_FMT), ToTm(f));
}

std::string DateTimeToStr(TDateTime value) {
    const Fields f = Split(value);
    const Stamp s = ToStamp(value);
    if (s.days == 0) return TimeToStr(value);
    if (f.hour == 0 && f.minute == 0 && f.second == 0) return DateToStr(value);
    return DateToStr(value) + " " + TimeToStr(value);
}

std::string FloatToStr(double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";
    // Fifteen significant digits, as the platform's general float format.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    // buffer: d.ddddddddddddddde[+-]x
    std::string digits;
    const char* p = buffer;
    for (; *p != '\0' && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;  // the separator may be the locale's
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string radix = LangInfo(RADIXCHAR);
    if (radix.empty()) radix = ".";
    std::string out = value < 0 ? "-" : "";
    if (exponent >= 15 || exponent < -5) {
        out += digits[0];
        if (digits.size() > 1) out += radix + digits.substr(1);
        out += "E" + std::to_string(exponent);
        return out;
    }
    if (exponent < 0) {
        out += "0" + radix + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
        return out;
    }
    const auto intDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
        out += digits + std::string(intDigits - digits.size(), '0');
    } else {
        out += digits.substr(0, intDigits) + radix + digits.substr(intDigits);
    }
    return out;
}

}  // namespace lumo
