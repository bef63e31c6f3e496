#pragma once

// Private to dicom/: the rules both readers of a received data set apply —
// the plain reading of the bytes (ReceivedDataSetReader) and the conversion of DCMTK's
// reading (DcmConvert) — kept in one place so that the two cannot drift
// apart: a response reads the same whichever reader takes it. How text is
// decoded and what (0008,0005) says afterwards live in IncomingText.

#include <dcmtk/dcmdata/dcvr.h>

#include <string_view>

#include "dicom/data/detail/DataSetStore.h"

namespace lumo::dicom::detail {

// How deep sequences may nest in a received data set. Real data sets nest a
// few levels; a deeper one is broken or hostile, and every level costs stack
// in either reader. The plain reading leaves a deeper one to DCMTK, whose
// conversion refuses it.
inline constexpr int kMaxNesting = 64;

// The character-string VRs: their values are text (ASCII or in the data
// set's character set) padded to an even length. DCMTK holds each as a
// DcmByteString.
constexpr bool IsTextVr(VrCode vr) {
    switch (vr) {
        case MakeVr("AE"):
        case MakeVr("AS"):
        case MakeVr("CS"):
        case MakeVr("DA"):
        case MakeVr("DS"):
        case MakeVr("DT"):
        case MakeVr("IS"):
        case MakeVr("LO"):
        case MakeVr("LT"):
        case MakeVr("PN"):
        case MakeVr("SH"):
        case MakeVr("ST"):
        case MakeVr("TM"):
        case MakeVr("UC"):
        case MakeVr("UI"):
        case MakeVr("UR"):
        case MakeVr("UT"):
            return true;
        default:
            return false;
    }
}
// The same list for a VR as DCMTK names it; DCMTK's own kinds (its unknown
// and ambiguous VRs, its containers) are not text.
bool IsTextVr(DcmEVR evr);

// A received text value without the padding that ends it: NUL bytes for a
// UI, blanks for the other text VRs. DCMTK drops it as it reads.
constexpr std::string_view WithoutTrailingPadding(VrCode vr, std::string_view value) {
    const char padding = vr == MakeVr("UI") ? '\0' : ' ';
    while (!value.empty() && value.back() == padding) value.remove_suffix(1);
    return value;
}

// True when a received value, its trailing padding gone, is read as it is:
// no padding (blank or NUL) left at either end of any of its values, so
// DCMTK's normalised copy of it would be the very same text.
bool IsUnpadded(std::string_view text);

// True when DCMTK keeps a received UID value as it is: it mends one with
// anything but digits and dots in it (the backslash separates values).
bool IsUidText(std::string_view text);

}  // namespace lumo::dicom::detail
