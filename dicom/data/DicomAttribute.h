#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dicom/data/Variant.h"

namespace lumo::dicom {

// One attribute of a data set as found by AttributesFind or AttributesItemAt,
// or the answer for an absent tag (not present, null value). A handle onto the
// data set's attribute (it shares the data set); not synchronised.
class DicomAttribute {
  public:
    std::uint16_t Group() const;
    std::uint16_t Element() const;
    // The value representation ("DA", "PN", "SQ", ...); empty when absent.
    std::string VR() const;

    bool AttributeIsPresent() const;
    bool AttributeIsMultiValued() const;  // value multiplicity above 1
    int AttributeValueCount() const;
    // 1-based; an index out of range raises EDicomError.
    Variant AttributeValueAt(int index) const;
    // Typed by VR: DA/TM/DT a date-time, IS/US/UL/SS/SL an integer, DS/FL/FD
    // a float, SQ a collection, other VRs text; VM above 1 an array; zero
    // length or absent: null.
    Variant AttributeValue() const;
    // The standard's attribute name, e.g. "Scheduled Procedure Step ID".
    std::string AttributeDisplayName() const;
    // The dictionary's keyword, e.g. "ScheduledProcedureStepID"; "(gggg,eeee)"
    // for a tag the dictionary does not know (private attributes).
    std::string AttributeKeyword() const;

    // Readings used by the date self-test.
    Variant AttributeTypedValue(bool typed) const;  // true: as AttributeValue; false: raw text
    Variant AttributeWideValue() const;             // the raw text
    // Start and end of a DA/DT range ("A-B", "A-", "-B" or a single date);
    // `defaultDate` when that end is open or unreadable.
    TDateTime AttributeRangeStart(TDateTime defaultDate) const;
    TDateTime AttributeRangeEnd(TDateTime defaultDate) const;

    // The attribute `tag` of `owner`, looked up afresh on every question so
    // that a handle stays valid when attributes are added or removed.
    DicomAttribute(DicomDataSet owner, std::uint32_t tag);

  private:
    DicomDataSet owner_;
    std::uint32_t tag_;
};

}  // namespace lumo::dicom
