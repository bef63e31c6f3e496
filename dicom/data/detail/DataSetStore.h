#pragma once

// Private to dicom/: the in-memory form of data sets and collections, shared by
// the data classes and the DCMTK bridge (DcmConvert).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"

class DcmElement;

namespace lumo::dicom {

namespace detail {
class DataSetSpool;
}

namespace detail {

// A value representation as its two letters packed into 16 bits ("PN" is
// 'P' << 8 | 'N'), so an element stays small and a VR compares cheaply.
using VrCode = std::uint16_t;

constexpr VrCode MakeVr(const char (&letters)[3]) {
    return static_cast<VrCode>((static_cast<unsigned char>(letters[0]) << 8) |
                               static_cast<unsigned char>(letters[1]));
}

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

// The elements of a data set in tag order, with what the code uses of a
// vector of them. A received data set that reads plainly keeps only the
// bytes it came in (explicit VR little endian) until something asks for its
// elements, which are then read from those bytes, once, and the bytes let
// go: a listing reads what it shows straight from the bytes (AttributeText),
// and a query that keeps a million responses holds their bytes rather than
// their elements. Owned by its data set; not synchronised, even for reading.
class ElementList {
  public:
    using iterator = std::vector<Element>::iterator;
    using const_iterator = std::vector<Element>::const_iterator;

    iterator begin() { return Elements().begin(); }
    iterator end() { return Elements().end(); }
    const_iterator begin() const { return Elements().begin(); }
    const_iterator end() const { return Elements().end(); }
    std::size_t size() const { return Elements().size(); }
    bool empty() const { return Elements().empty(); }
    Element& operator[](std::size_t index) { return Elements()[index]; }
    const Element& operator[](std::size_t index) const { return Elements()[index]; }
    void reserve(std::size_t count) { Elements().reserve(count); }
    void push_back(Element element) { Elements().push_back(std::move(element)); }
    iterator insert(const_iterator at, Element element) {
        return Elements().insert(at, std::move(element));
    }
    iterator erase(const_iterator at) { return Elements().erase(at); }

    // Keeps `bytes`, which read plainly, in place of the elements.
    void KeepEncoded(std::string_view bytes);
    // The bytes kept, while the elements have not been read from them.
    std::optional<std::string_view> Encoded() const {
        if (!encoded_) return std::nullopt;
        return std::string_view(encoded_.get(), encodedSize_);
    }

  private:
    std::vector<Element>& Elements() const {
        if (encoded_) Decode();
        return elements_;
    }
    void Decode() const;

    mutable std::vector<Element> elements_;
    // Shared by copies of the data set: never changed once kept.
    mutable std::shared_ptr<const char[]> encoded_;
    mutable std::size_t encodedSize_ = 0;
};

// The elements that `bytes`, kept by an ElementList, read as (ReceivedDataSetReader).
std::vector<Element> ReadEncodedElements(std::string_view bytes);

}  // namespace detail

// The attributes of a data set, kept sorted by tag: DICOM encodes in that
// order and AttributesItemAt walks it. Owned by the DicomDataSet handles that
// share it; not synchronised.
struct DicomDataSet::Impl {
    detail::ElementList elements;
    // Of a received data set: the declared character set of the first text
    // that could not be decoded (and is shown marked), or empty.
    std::string undecodableCharset;
    // Of a received data set that declares no character set: how its text
    // beyond ASCII was read (IncomingText's UndeclaredReading bits).
    std::uint8_t undeclaredReading = 0;
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
    Impl();
    ~Impl();
    // In order: the data sets held in memory, then those of the spool, once
    // the first `inMemory` are in.
    std::vector<DicomDataSet> items;
    std::size_t inMemory = static_cast<std::size_t>(-1);
    std::unique_ptr<detail::DataSetSpool> spool;
};

}  // namespace lumo::dicom
