#pragma once

#include <functional>
#include <string>

namespace lumo {

// A date-time as the rest of the program sees it: days since 1899-12-30, the
// time of day as the fraction (2026-12-07 14:05:09 is 46363.58691...).
using TDateTime = double;

// "Now", as local time. Everything that stamps a time goes through this one
// clock, so tests can pin it. Safe from any thread.
TDateTime Now();

// Replaces the clock (tests); an empty function restores the system clock.
void SetClock(std::function<TDateTime()> clock);

TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond = 0);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);

// The date-time format language: yyyy yy m mm mmm mmmm d dd ddd dddd h hh n nn
// s ss z zzz, m after h as minutes, quoted literals; month and day names from
// the user's LC_TIME locale. Letters may be written in either case; five or
// more d give the short date. An empty format gives the short date followed,
// unless at midnight, by a blank and the long time.
std::string FormatDateTime(const std::string& format, TDateTime value);

// Locale conversions of a date-time to text (LC_TIME): the short date with a
// four-digit year ("07/12/2026" in French, "2026-12-07" in the C locale), the
// long time ("14:05:09"), and both joined as the general conversion does it:
// the date alone at midnight, the time alone for a value below 1.
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);

// Locale conversion of a float to text (LC_NUMERIC decimal separator, up to
// 15 significant digits, no exponent for ordinary magnitudes).
std::string FloatToStr(double value);

}  // namespace lumo
