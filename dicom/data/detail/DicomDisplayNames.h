#pragma once

// Private to dicom/: the standard's attribute names, generated from a complete
// data dictionary by scripts/gen-display-names.py.

#include <cstdint>
#include <string_view>

namespace lumo::dicom::detail {

// The attribute name of a tag as the DICOM standard writes it ("Referring
// Physician's Name"); tags of repeating groups (60xx,3000) have their
// family's name. Empty for a tag the table does not know.
std::string_view DicomDisplayName(std::uint32_t tag);

}  // namespace lumo::dicom::detail
