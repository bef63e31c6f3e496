#pragma once

// Private to dicom/: attribute values and their text — a text cut into its
// values and each read as its VR says, a value written in a tag's VR, whether
// a text fits a binary number VR — and the one walk from a Variant to its
// text that every conversion to text shares.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/data/Variant.h"
#include "dicom/data/detail/DataSetStore.h"
#include "support/DateTime.h"

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

// How one conversion to text writes the values that are neither null, text,
// array nor collection: the part in which ValueText (in a tag's VR) and
// VarToStr (under the user's locale) differ. An implementation holds only
// what its conversion needs (a VR); used on the caller's thread.
class ScalarWriter {
  public:
    virtual std::string Integer(std::int64_t value) const = 0;
    virtual std::string Float(double value) const = 0;
    virtual std::string Boolean(bool value) const = 0;
    virtual std::string DateTime(TDateTime value, Variant::Moment moment) const = 0;

  protected:
    ~ScalarWriter() = default;
};

// The text of a value: null gives the empty text, a text itself, an array
// its values' texts joined by '\', and a collection has no text form
// (EVariantTypeCastError); `scalars` writes the other values.
std::string WrittenText(const Variant& value, const ScalarWriter& scalars);

}  // namespace lumo::dicom::detail
