#pragma once

#include <cstdint>
#include <memory>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/Variant.h"

namespace lumo::dicom {

// The attributes of one data set, walked in ascending tag order. A handle onto
// the data set (keeps it alive); not synchronised.
class DicomAttributes {
  public:
    explicit DicomAttributes(DicomDataSet owner);

    // Adds or replaces. A text is the value as it goes on the wire (the empty
    // text is a return key of zero length); a number or a date-time is
    // written in the tag's VR; a collection becomes a sequence whose items
    // are the collection's data sets (shared). The VR comes from the data
    // dictionary; a tag it does not know is kept as LO.
    void AttributesAdd(std::uint16_t group, std::uint16_t element, const Variant& value);
    DicomAttribute AttributesFind(std::uint16_t group, std::uint16_t element) const;
    // Removing an absent tag is harmless.
    void AttributesRemove(std::uint16_t group, std::uint16_t element);
    int AttributesCount() const;
    // 1-based position in ascending tag order; out of range raises EDicomError.
    DicomAttribute AttributesItemAt(int position) const;

  private:
    DicomDataSet owner_;
};

}  // namespace lumo::dicom
