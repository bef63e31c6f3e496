#include "dicom/DcmtkCheck.h"

#include "support/Exception.h"

namespace lumo::dicom::detail {

void CheckCondition(const OFCondition& cond, const char* className, const std::string& what) {
    if (cond.good()) return;
    throw Exception(className, what + ": " + cond.text());
}

}  // namespace lumo::dicom::detail
