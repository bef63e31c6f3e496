#pragma once

// Test code: data sets written byte by byte in explicit VR little endian, as
// a node may put them on the wire (padding, NULs, undefined lengths and all),
// and a data set of the toolkit written out as one comparable text.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"

namespace lumo::dicom::testing {

// The encoded bytes of a data set or item, built element by element.
class WireBytes {
  public:
    static constexpr std::uint32_t kUndefined = 0xFFFFFFFF;

    const std::string& Bytes() const { return bytes_; }

    WireBytes& Raw(std::string_view bytes) {
        bytes_.append(bytes);
        return *this;
    }
    WireBytes& U16(std::uint16_t value) {
        bytes_ += static_cast<char>(value & 0xFF);
        bytes_ += static_cast<char>(value >> 8);
        return *this;
    }
    WireBytes& U32(std::uint32_t value) {
        U16(static_cast<std::uint16_t>(value & 0xFFFF));
        return U16(static_cast<std::uint16_t>(value >> 16));
    }
    WireBytes& Tag(std::uint16_t group, std::uint16_t element) { return U16(group).U16(element); }

    // An element header with the length form its VR takes.
    WireBytes& Header(std::uint16_t group, std::uint16_t element, std::string_view vr,
                      std::uint32_t length) {
        Tag(group, element).Raw(vr.substr(0, 2));
        if (HasLongLength(vr)) return U16(0).U32(length);
        return U16(static_cast<std::uint16_t>(length));
    }
    // An element with exactly these value bytes (no padding added).
    WireBytes& Element(std::uint16_t group, std::uint16_t element, std::string_view vr,
                       std::string_view value) {
        return Header(group, element, vr, static_cast<std::uint32_t>(value.size())).Raw(value);
    }
    // A sequence of encoded items: lengths defined or undefined (with their
    // delimitation items).
    WireBytes& Sequence(std::uint16_t group, std::uint16_t element,
                        const std::vector<WireBytes>& items, bool undefinedSequence,
                        bool undefinedItems) {
        WireBytes body;
        for (const WireBytes& item : items) body.Item(item.Bytes(), undefinedItems);
        if (undefinedSequence) {
            Header(group, element, "SQ", kUndefined).Raw(body.Bytes());
            return Tag(0xFFFE, 0xE0DD).U32(0);
        }
        return Header(group, element, "SQ", static_cast<std::uint32_t>(body.Bytes().size()))
            .Raw(body.Bytes());
    }
    WireBytes& Item(std::string_view content, bool undefined) {
        if (!undefined) {
            return Tag(0xFFFE, 0xE000).U32(static_cast<std::uint32_t>(content.size())).Raw(content);
        }
        Tag(0xFFFE, 0xE000).U32(kUndefined).Raw(content);
        return Tag(0xFFFE, 0xE00D).U32(0);
    }

    static bool HasLongLength(std::string_view vr) {
        for (const char* longVr :
             {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"}) {
            if (vr == longVr) return true;
        }
        return false;
    }

  private:
    std::string bytes_;
};

// Every attribute of a data set, nested items included, as
// "(gggg,eeee) VR text" lines: two data sets read alike give the same text.
inline std::string Dump(const DicomDataSet& dataSet, const std::string& indent = "") {
    std::string out;
    const DicomAttributes attributes = dataSet.DataSetAttributes();
    for (int i = 1; i <= attributes.AttributesCount(); ++i) {
        const DicomAttribute attribute = attributes.AttributesItemAt(i);
        char tag[16];
        std::snprintf(tag, sizeof tag, "(%04X,%04X)", attribute.Group(), attribute.Element());
        out += indent + tag + " " + attribute.VR();
        const Variant value = attribute.AttributeWideValue();
        if (value.GetType() == Variant::Type::Collection) {
            const DicomDataSets items = value.AsCollection();
            out += " items=" + std::to_string(items.DataSetsCount()) + "\n";
            for (int j = 1; j <= items.DataSetsCount(); ++j) {
                out += indent + " item\n" + Dump(items.DataSetsItem(j), indent + "  ");
            }
        } else {
            out += " [" + VarToStr(value) + "]\n";
        }
    }
    return out;
}

}  // namespace lumo::dicom::testing
