#pragma once

// Private to dicom/: the in-memory form of data sets and collections, shared by
// the data classes and the DCMTK bridge (DcmConvert).

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "dicom/DicomAttribute.h"
#include "dicom/DicomDataSet.h"
#include "dicom/DicomDataSets.h"

class DcmElement;

namespace lumo::dicom {

namespace detail {

// A value representation as its two letters packed into 16 bits ("PN" is
// 'P' << 8 | 'N'), so an element stays small and a VR compares cheaply.
using VrCode = std::uint16_t;

constexpr VrCode MakeVr(const char (&letters)[3]) {
    return static_cast<VrCode>((static_cast<unsigned char>(letters[0]) << 8) |
                               static_cast<unsigned char>(letters[1]));
}

std::string VrText(VrCode vr);
VrCode VrFromText(const char* letters);

constexpr std::uint32_t MakeTag(std::uint16_t group, std::uint16_t element) {
    return (static_cast<std::uint32_t>(group) << 16) | element;
}
constexpr std::uint16_t TagGroup(std::uint32_t tag) {
    return static_cast<std::uint16_t>(tag >> 16);
}
constexpr std::uint16_t TagElement(std::uint32_t tag) {
    return static_cast<std::uint16_t>(tag & 0xFFFF);
}

// The value of one attribute: its DICOM text form in UTF-8 (values joined by
// '\', padding already removed for received values), the items of a sequence,
// or, for binary VRs such as OB, OW and UN, the received DCMTK element itself
// so that writing a file or forwarding a response keeps it byte for byte.
struct Element {
    std::uint32_t tag = 0;
    VrCode vr = 0;
    using Value = std::variant<std::string, DicomDataSets, std::shared_ptr<DcmElement>>;
    Value value;

    const std::string* Text() const { return std::get_if<std::string>(&value); }
    const DicomDataSets* Items() const { return std::get_if<DicomDataSets>(&value); }
    const std::shared_ptr<DcmElement>* Raw() const {
        return std::get_if<std::shared_ptr<DcmElement>>(&value);
    }
};

}  // namespace detail

// The attributes of a data set, kept sorted by tag: DICOM encodes in that
// order and AttributesItemAt walks it. Owned by the DicomDataSet handles that
// share it; not synchronised.
struct DicomDataSet::Impl {
    std::vector<detail::Element> elements;
    // Of a received data set: the declared character set of the first text
    // that could not be decoded (and is shown marked), or empty.
    std::string undecodableCharset;
    // The bytes such a data set arrived in, and their transfer syntax (a
    // DCMTK E_TransferSyntax), so that a saved file holds it as it came
    // rather than its marked text; dropped as soon as the data set changes.
    struct Received {
        std::string bytes;
        int transferSyntax = 0;
    };
    std::shared_ptr<const Received> received;

    const detail::Element* Find(std::uint32_t tag) const;
    // Adds, or replaces the element of the same tag.
    void Put(detail::Element element);
    void Remove(std::uint32_t tag);
};

// The data sets of a collection, in order, shared with whoever else holds
// them. Owned by the DicomDataSets handles; not synchronised.
struct DicomDataSets::Impl {
    std::vector<DicomDataSet> items;
};

}  // namespace lumo::dicom
