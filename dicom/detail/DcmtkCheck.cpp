#include "dicom/detail/DcmtkCheck.h"

#include "support/Exception.h"

namespace lumo::dicom::detail {

void CheckCondition(const OFCondition& cond, ErrorClass errorClass, const std::string& what) {
    if (cond.good()) return;
    throw Exception(errorClass, what + ": " + cond.text());
}

}  // namespace lumo::dicom::detail
