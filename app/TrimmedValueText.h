#pragma once

#include <string>

#include "dicom/data/Variant.h"

namespace lumo::app {

// The text of one value as log lines, checks and comparisons show it: the
// general conversion under the user's locale (VarToStr), trimmed of every
// leading and trailing character whose code is 32 or less. A collection has
// no text (EVariantTypeCastError). A free function; any thread.
std::string TrimmedValueText(const dicom::Variant& value);

}  // namespace lumo::app
