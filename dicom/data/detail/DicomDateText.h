#pragma once

// Private to dicom/: the text of DA, TM and DT values, both ways — one value
// or a range of them read as date-times, and a date-time written as a VR
// wants it.

#include <optional>
#include <string>
#include <string_view>

#include "dicom/data/detail/DataSetStore.h"
#include "support/DateTime.h"

namespace lumo::dicom::detail {

// Readings of one DA, TM or DT value. Leading and trailing blanks are
// ignored; anything that is not a valid value of the VR gives nothing.
std::optional<TDateTime> ParseDate(std::string_view text);
std::optional<TDateTime> ParseTime(std::string_view text);
std::optional<TDateTime> ParseDateTimeValue(std::string_view text);

// The range "A-B", "A-", "-B" or a single value held by a DA, DT or TM text:
// each end read in the VR (a missing or unreadable end gives nothing).
struct DateRange {
    std::optional<TDateTime> start;
    std::optional<TDateTime> end;
};
DateRange ParseDateRange(VrCode vr, std::string_view text);

// A date-time as the text of a VR: the date for DA, the time for TM, both
// for DT. For any other VR, the time alone when it is a time of day 0, the
// date alone when it has no time, otherwise both.
std::string DateTimeText(VrCode vr, TDateTime value);

}  // namespace lumo::dicom::detail
