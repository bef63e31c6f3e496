#pragma once

// Private to dicom/: the errors the data classes raise for a request that has
// no answer — a 1-based index out of range, and a variant conversion that has
// no meaning (named with the variant types' names).

#include "dicom/data/Variant.h"

namespace lumo::dicom::detail {

// The program's error for a 1-based index out of range.
[[noreturn]] void ThrowIndexOutOfBounds(int index);

// The name of a variant type in conversion errors ("Null", "String",
// "DataSets", ...), and the error raised for a conversion that has no meaning.
const char* VariantTypeName(Variant::Type type);
[[noreturn]] void ThrowCastError(Variant::Type from, const char* to);

}  // namespace lumo::dicom::detail
