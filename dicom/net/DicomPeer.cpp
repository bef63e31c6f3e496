#include "dicom/net/DicomPeer.h"

namespace lumo::dicom {

std::string DicomPeer::Text() const {
    return address + ":" + std::to_string(port) + " (" + calledAETitle + ")";
}

}  // namespace lumo::dicom
