#include "dicom/data/DicomAttributes.h"

#include <utility>

#include "dicom/data/detail/DataErrors.h"
#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/DcmtkVr.h"
#include "dicom/data/detail/ValueText.h"

namespace lumo::dicom {

DicomAttributes::DicomAttributes(DicomDataSet owner) : owner_(std::move(owner)) {}

void DicomAttributes::AttributesAdd(std::uint16_t group, std::uint16_t element,
                                    const Variant& value) {
    detail::Element added;
    added.tag = detail::MakeTag(group, element);
    added.vr = detail::DictionaryVr(added.tag);
    constexpr detail::VrCode kSQ = detail::MakeVr("SQ");
    if (value.GetType() == Variant::Type::Collection) {
        // A collection is a sequence whatever the dictionary says of the tag.
        added.vr = kSQ;
        added.value = value.AsCollection();
    } else if (added.vr == kSQ) {
        // A sequence asked for back (a return key) is an empty sequence; any
        // other value has no meaning for a sequence.
        if (!value.IsNull() &&
            !(value.GetType() == Variant::Type::Text && value.AsText().empty())) {
            detail::ThrowCastError(value.GetType(), "DataSets");
        }
        added.value = DicomDataSets();
    } else {
        added.value = detail::ValueText(added.vr, value);
    }
    owner_.GetImpl()->Put(std::move(added));
}

DicomAttribute DicomAttributes::AttributesFind(std::uint16_t group, std::uint16_t element) const {
    return DicomAttribute(owner_, detail::MakeTag(group, element));
}

void DicomAttributes::AttributesRemove(std::uint16_t group, std::uint16_t element) {
    owner_.GetImpl()->Remove(detail::MakeTag(group, element));
}

int DicomAttributes::AttributesCount() const {
    return static_cast<int>(owner_.GetImpl()->elements.size());
}

DicomAttribute DicomAttributes::AttributesItemAt(int position) const {
    const auto& elements = owner_.GetImpl()->elements;
    if (position < 1 || static_cast<std::size_t>(position) > elements.size()) {
        detail::ThrowIndexOutOfBounds(position);
    }
    return DicomAttribute(owner_, elements[static_cast<std::size_t>(position) - 1].tag);
}

}  // namespace lumo::dicom
