#pragma once

// Private to dicom/: what a value representation says of the text of its
// values — its two-letter name, whether it may hold several values, whether
// its text follows the character set, whether it is kept as the received
// element, whether it holds numbers — and the blanks around a value.

#include <string>
#include <string_view>

#include "dicom/data/detail/DataSetStore.h"

namespace lumo::dicom::detail {

// A VR's two letters; letters that are not two give UN.
std::string VrText(VrCode vr);
VrCode VrFromText(const char* letters);

// Whether the text of this VR may hold several values separated by '\'
// (LT, ST, UT and UR never do: a backslash is part of their text).
bool HoldsSeveralValues(VrCode vr);
// Whether this VR's text follows the Specific Character Set (SH, LO, ST, LT,
// UT, PN, UC); the other string VRs are plain ASCII.
bool IsCharsetText(VrCode vr);
// Whether this VR is kept as the received DCMTK element rather than as text.
bool IsKeptRaw(VrCode vr);

// The VRs whose values are whole numbers (IS, US, UL, SS, SL, SV, UV), and
// those whose values are decimal numbers (DS, FL, FD).
bool IsIntegerVr(VrCode vr);
bool IsFloatVr(VrCode vr);

// One value without the blanks around it and the NUL bytes that may pad its
// end, as a date, a time or a number is read.
std::string_view TrimmedValue(std::string_view text);

}  // namespace lumo::dicom::detail
