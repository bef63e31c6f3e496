#pragma once

// Private to dicom/: attribute values and their text — a text cut into its
// values and each read as its VR says, a value written in a tag's VR, whether
// a text fits a binary number VR.

#include <string>
#include <string_view>
#include <vector>

#include "dicom/data/Variant.h"
#include "dicom/data/detail/DataSetStore.h"

namespace lumo::dicom::detail {

// The values of a text, split on '\' when the VR allows several values. A
// zero-length text has no value.
std::vector<std::string_view> SplitValues(VrCode vr, std::string_view text);

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

}  // namespace lumo::dicom::detail
