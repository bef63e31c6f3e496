#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/data/DicomDataSet.h"

namespace lumo::dicom {

// The text of the attribute (group, element) at the top level of a data set,
// as VarToStr(AttributesFind(group, element).AttributeValue()) gives it, for
// listings that read many: a view of the data set's own text where its VR
// keeps the text as it stands (character strings other than dates, times
// and numbers, and whole numbers already written plainly), otherwise the
// formatted text, held in `scratch`. nullopt when the attribute is absent.
// Raises what VarToStr raises (a sequence has no text). The view is valid
// while the data set and `scratch` stay unchanged. On the data set's thread.
std::optional<std::string_view> AttributeText(const DicomDataSet& dataSet, std::uint16_t group,
                                              std::uint16_t element, std::string& scratch);

}  // namespace lumo::dicom
