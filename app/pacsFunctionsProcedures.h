#pragma once

#include <cstdint>
#include <string>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/Variant.h"

namespace lumo::app {

using dicom::DicomAttributes;
using dicom::Variant;

// One attribute of a data set as text, for log lines and checks: the value
// text (the general conversion under the user's locale, trimmed of blanks
// and control characters). An absent attribute gives the empty text. A
// failure after the presence test is caught, logged at level 5 through the
// application logger, and the text built so far is returned. Free functions;
// any thread, one data set per thread.

// The whole value: several values joined by ","; a calendar date as the
// locale's short date, with the long time when the time of day is not
// midnight (to the second).
std::string pacsRetDicomAttr(const DicomAttributes& attributes, std::int32_t group,
                             std::int32_t element);

// The first value only.
std::string pacsRetFirstDicomAttr(const DicomAttributes& attributes, std::int32_t group,
                                  std::int32_t element);

}  // namespace lumo::app
