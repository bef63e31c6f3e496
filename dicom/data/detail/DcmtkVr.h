#pragma once

// Private to dicom/: value representations as DCMTK names them, and the VR
// its data dictionary gives a tag. DCMTK's ambiguous VRs take their usual
// form (US/SS: US; OB/OW: OW), its unknown ones LO.

#include <dcmtk/dcmdata/dcvr.h>

#include <cstdint>

#include "dicom/data/detail/DataSetStore.h"

namespace lumo::dicom::detail {

// The VR the data dictionary gives a tag: an unknown or private tag LO.
// Raises EDicomError when DCMTK's data dictionary is not loaded.
VrCode DictionaryVr(std::uint32_t tag);
// The program's VR for a VR as DCMTK names it, and back (a VR DCMTK does
// not know is UN).
VrCode VrFromDcmtk(DcmEVR evr);
DcmEVR VrToDcmtk(VrCode vr);

}  // namespace lumo::dicom::detail
