#include "dicom/data/detail/VrRules.h"

namespace lumo::dicom::detail {

namespace {

constexpr VrCode kAT = MakeVr("AT"), kDS = MakeVr("DS"), kFD = MakeVr("FD"), kFL = MakeVr("FL"),
                 kIS = MakeVr("IS"), kLO = MakeVr("LO"), kLT = MakeVr("LT"), kOB = MakeVr("OB"),
                 kOD = MakeVr("OD"), kOF = MakeVr("OF"), kOL = MakeVr("OL"), kOV = MakeVr("OV"),
                 kOW = MakeVr("OW"), kPN = MakeVr("PN"), kSH = MakeVr("SH"), kSL = MakeVr("SL"),
                 kSQ = MakeVr("SQ"), kSS = MakeVr("SS"), kST = MakeVr("ST"), kSV = MakeVr("SV"),
                 kUC = MakeVr("UC"), kUL = MakeVr("UL"), kUN = MakeVr("UN"), kUR = MakeVr("UR"),
                 kUS = MakeVr("US"), kUT = MakeVr("UT"), kUV = MakeVr("UV");

}  // namespace

std::string VrText(VrCode vr) {
    return std::string{static_cast<char>(vr >> 8), static_cast<char>(vr & 0xFF)};
}

VrCode VrFromText(const char* letters) {
    if (letters == nullptr || letters[0] == '\0' || letters[1] == '\0') return kUN;
    return static_cast<VrCode>((static_cast<unsigned char>(letters[0]) << 8) |
                               static_cast<unsigned char>(letters[1]));
}

bool HoldsSeveralValues(VrCode vr) {
    return vr != kLT && vr != kST && vr != kUT && vr != kUR && vr != kSQ;
}

bool IsCharsetText(VrCode vr) {
    return vr == kSH || vr == kLO || vr == kST || vr == kLT || vr == kUT || vr == kPN || vr == kUC;
}

bool IsKeptRaw(VrCode vr) {
    return vr == kOB || vr == kOW || vr == kOF || vr == kOD || vr == kOL || vr == kOV ||
           vr == kUN || vr == kAT;
}

bool IsIntegerVr(VrCode vr) {
    return vr == kIS || vr == kUS || vr == kUL || vr == kSS || vr == kSL || vr == kSV || vr == kUV;
}

bool IsFloatVr(VrCode vr) { return vr == kDS || vr == kFL || vr == kFD; }

std::string_view TrimmedValue(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

}  // namespace lumo::dicom::detail
