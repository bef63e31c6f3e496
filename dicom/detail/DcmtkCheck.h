#pragma once

// Private to dicom/: the one place where a DCMTK condition becomes an error.

#include <dcmtk/ofstd/ofcond.h>

#include <string>

#include "support/Exception.h"

namespace lumo::dicom::detail {

// Raises lumo::Exception(errorClass, what + ": " + the condition's text) when
// `cond` is bad; does nothing when it is good.
void CheckCondition(const OFCondition& cond, ErrorClass errorClass, const std::string& what);

}  // namespace lumo::dicom::detail
