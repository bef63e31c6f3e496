#include "dicom/data/detail/DcmtkVr.h"

#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dctag.h>

#include <string>

#include "dicom/data/detail/VrRules.h"
#include "support/Exception.h"

namespace lumo::dicom::detail {

VrCode VrFromDcmtk(DcmEVR evr) {
    switch (evr) {
        case EVR_xs:
            return MakeVr("US");
        case EVR_ox:
        case EVR_px:
        case EVR_lt:
        case EVR_PixelData:
        case EVR_OverlayData:
            return MakeVr("OW");
        case EVR_up:
            return MakeVr("UL");
        case EVR_pixelSQ:
            return MakeVr("SQ");
        case EVR_UNKNOWN:
        case EVR_UNKNOWN2B:
        case EVR_na:
            return MakeVr("LO");
        default:
            break;
    }
    const char* name = DcmVR(evr).getValidVRName();
    return VrFromText(name);
}

DcmEVR VrToDcmtk(VrCode vr) {
    const std::string name = VrText(vr);
    const DcmEVR evr = DcmVR(name.c_str()).getEVR();
    return evr == EVR_UNKNOWN ? EVR_UN : evr;
}

VrCode DictionaryVr(std::uint32_t tag) {
    static const bool loaded = dcmDataDict.isDictionaryLoaded();
    if (!loaded) {
        throw Exception(ErrorClass::EDicomError,
                        "The DICOM data dictionary is not loaded (DCMTK's dicom.dic; see "
                        "DCMDICTPATH)");
    }
    const DcmTag dcmTag(TagGroup(tag), TagElement(tag));
    return VrFromDcmtk(dcmTag.getEVR());
}

}  // namespace lumo::dicom::detail
