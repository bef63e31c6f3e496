#include "dicom/data/detail/ReceivedRules.h"

#include <algorithm>

#include "dicom/data/detail/VrRules.h"

namespace lumo::dicom::detail {

bool IsTextVr(DcmEVR evr) {
    // DCMTK's names of its own kinds are lower case or "??": none is a text VR.
    return IsTextVr(VrFromText(DcmVR(evr).getVRName()));
}

bool IsUnpadded(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return false;
    if (text.empty()) return true;
    if (text.front() == ' ' || text.back() == ' ') return false;
    return text.find(" \\") == std::string_view::npos && text.find("\\ ") == std::string_view::npos;
}

bool IsUidText(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.' || c == '\\'; });
}

}  // namespace lumo::dicom::detail
