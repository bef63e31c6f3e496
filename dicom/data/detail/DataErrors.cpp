#include "dicom/data/detail/DataErrors.h"

#include <string>

#include "support/Exception.h"

namespace lumo::dicom::detail {

void ThrowIndexOutOfBounds(int index) {
    throw Exception(ErrorClass::EDicomError,
                    "List index out of bounds (" + std::to_string(index) + ")");
}

const char* VariantTypeName(Variant::Type type) {
    switch (type) {
        case Variant::Type::Null:
            return "Null";
        case Variant::Type::Text:
            return "String";
        case Variant::Type::Integer:
            return "Int64";
        case Variant::Type::Float:
            return "Double";
        case Variant::Type::Boolean:
            return "Boolean";
        case Variant::Type::DateTime:
            return "Date";
        case Variant::Type::Array:
            return "Array";
        case Variant::Type::Collection:
            return "DataSets";
    }
    return "Unknown";
}

void ThrowCastError(Variant::Type from, const char* to) {
    throw Exception(ErrorClass::EVariantTypeCastError,
                    std::string("Could not convert variant of type (") + VariantTypeName(from) +
                        ") into type (" + to + ")");
}

}  // namespace lumo::dicom::detail
