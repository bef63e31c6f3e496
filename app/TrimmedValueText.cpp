#include "app/TrimmedValueText.h"

#include "support/Global_Utils.h"

namespace lumo::app {

std::string TrimmedValueText(const dicom::Variant& value) {
    return TrimBlanks(dicom::VarToStr(value));
}

}  // namespace lumo::app
