#pragma once

// Private to dicom/: the rules that tie a value representation to the text
// form of its values — which VRs hold several values, which carry character
// set text, how a DA/TM/DT or number text reads as a Variant, and how a Variant
// is written in a tag's VR.

#include <dcmtk/dcmdata/dcvr.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/data/Variant.h"
#include "dicom/data/detail/DataSetStore.h"
#include "support/DateTime.h"

namespace lumo::dicom::detail {

// The VR the data dictionary gives a tag: an ambiguous one resolved to its
// usual form (US/SS: US; OB/OW: OW), an unknown or private tag LO. Raises
// EDicomError when DCMTK's data dictionary is not loaded.
VrCode DictionaryVr(std::uint32_t tag);
// The same resolution for a VR as DCMTK names it.
VrCode VrFromDcmtk(DcmEVR evr);
DcmEVR VrToDcmtk(VrCode vr);

// Whether the text of this VR may hold several values separated by '\'
// (LT, ST, UT and UR never do: a backslash is part of their text).
bool HoldsSeveralValues(VrCode vr);
// Whether this VR's text follows the Specific Character Set (SH, LO, ST, LT,
// UT, PN, UC); the other string VRs are plain ASCII.
bool IsCharsetText(VrCode vr);
// Whether this VR is kept as the received DCMTK element rather than as text.
bool IsKeptRaw(VrCode vr);

// The values of a text, split on '\' when the VR allows several values. A
// zero-length text has no value.
std::vector<std::string_view> SplitValues(VrCode vr, std::string_view text);

// Readings of one DA, TM or DT value. Leading and trailing blanks are
// ignored; anything that is not a valid value of the VR gives nothing.
std::optional<TDateTime> ParseDate(std::string_view text);
std::optional<TDateTime> ParseTime(std::string_view text);
std::optional<TDateTime> ParseDateTimeValue(std::string_view text);

// One value typed by its VR: a date-time for DA/TM/DT, an integer for
// IS/US/UL/SS/SL/SV/UV, a float for DS/FL/FD, otherwise (or when it does not
// read as its VR) the text. A zero-length value is null.
Variant TypedValue(VrCode vr, std::string_view text);

// The text written for a value added to a tag of this VR. A text is kept
// exactly as given; a number or a date-time is formatted as the VR wants; an
// array is its values joined by '\'. A collection has no text form
// (EVariantTypeCastError).
std::string ValueText(VrCode vr, const Variant& value);

// Whether every value of the text fits a binary number VR (US, SS, UL, SL,
// UV, SV, FL, FD): DCMTK would silently wrap 70000 into a US. Text of any
// other VR fits.
bool FitsBinaryVr(VrCode vr, std::string_view text);

// The range "A-B", "A-", "-B" or a single value held by a DA, DT or TM text:
// each end read in the VR (a missing or unreadable end gives nothing).
struct DateRange {
    std::optional<TDateTime> start;
    std::optional<TDateTime> end;
};
DateRange ParseDateRange(VrCode vr, std::string_view text);

// The program's error for a 1-based index out of range.
[[noreturn]] void ThrowIndexOutOfBounds(int index);

// The name of a variant type in conversion errors ("Null", "String",
// "DataSets", ...), and the error raised for a conversion that has no meaning.
const char* VariantTypeName(Variant::Type type);
[[noreturn]] void ThrowCastError(Variant::Type from, const char* to);

}  // namespace lumo::dicom::detail
