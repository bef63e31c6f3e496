#include "dicom/data/DicomAttribute.h"

#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dctag.h>

#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "dicom/data/detail/DataErrors.h"
#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/DicomDateText.h"
#include "dicom/data/detail/DicomDisplayNames.h"
#include "dicom/data/detail/ValueText.h"
#include "dicom/data/detail/VrRules.h"

namespace lumo::dicom {

namespace {

// The text of an element, without copying what it holds: a view of its own
// text, or for a received binary element DCMTK's text form of it (values
// joined by '\'), kept in `scratch`.
std::string_view ElementText(const detail::Element& element, std::string& scratch) {
    if (const std::string* text = element.Text()) return *text;
    if (const auto* raw = element.Raw()) {
        OFString text;
        if ((*raw)->getOFStringArray(text).good()) scratch.assign(text.c_str(), text.size());
    }
    return scratch;
}

std::vector<std::string_view> ElementValues(const detail::Element& element, std::string_view text) {
    if (const auto* raw = element.Raw()) {
        // A binary element knows its own multiplicity: an OB holds one value
        // however many bytes DCMTK lists.
        if (text.empty()) return {};
        if ((*raw)->getVM() <= 1) return {text};
    }
    return detail::SplitValues(element.vr, text);
}

// "AcquisitionUID" -> "Acquisition UID": a keyword of DCMTK's dictionary
// as words, for the few tags newer than the table of names.
std::string KeywordAsWords(std::string_view keyword) {
    std::string words;
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        const char c = keyword[i];
        if (i > 0 && upper(c)) {
            const char before = keyword[i - 1];
            const bool afterWord = !upper(before);
            const bool endsAcronym = upper(before) && i + 1 < keyword.size() &&
                                     keyword[i + 1] >= 'a' && keyword[i + 1] <= 'z';
            if (afterWord || endsAcronym) words += ' ';
        }
        words += c;
    }
    return words;
}

std::string DisplayName(std::uint32_t tag) {
    if (const std::string_view name = detail::DicomDisplayName(tag); !name.empty()) {
        return std::string(name);
    }
    const std::uint16_t group = detail::TagGroup(tag);
    const std::uint16_t element = detail::TagElement(tag);
    if (element == 0x0000) return "Group Length";
    if (group % 2 == 1) {
        return element >= 0x0010 && element <= 0x00FF ? "Private Creator" : "Private tag data";
    }
    DcmTag dcmTag(group, element);
    if (dcmTag.getEVR() != EVR_UNKNOWN) {
        if (const char* keyword = dcmTag.getTagName(); keyword != nullptr && *keyword != '\0') {
            return KeywordAsWords(keyword);
        }
    }
    return "Unknown";
}

}  // namespace

DicomAttribute::DicomAttribute(DicomDataSet owner, std::uint32_t tag)
    : owner_(std::move(owner)), tag_(tag) {}

std::uint16_t DicomAttribute::Group() const { return detail::TagGroup(tag_); }

std::uint16_t DicomAttribute::Element() const { return detail::TagElement(tag_); }

std::string DicomAttribute::VR() const {
    const detail::Element* element = owner_.GetImpl()->Find(tag_);
    return element == nullptr ? std::string() : detail::VrText(element->vr);
}

bool DicomAttribute::AttributeIsPresent() const { return owner_.GetImpl()->Find(tag_) != nullptr; }

bool DicomAttribute::AttributeIsMultiValued() const { return AttributeValueCount() > 1; }

int DicomAttribute::AttributeValueCount() const {
    const detail::Element* element = owner_.GetImpl()->Find(tag_);
    if (element == nullptr) return 0;
    if (element->Items() != nullptr) return 1;
    std::string scratch;
    const std::string_view text = ElementText(*element, scratch);
    return static_cast<int>(ElementValues(*element, text).size());
}

Variant DicomAttribute::AttributeValueAt(int index) const {
    const detail::Element* element = owner_.GetImpl()->Find(tag_);
    if (element != nullptr) {
        if (const DicomDataSets* items = element->Items()) {
            if (index == 1) return Variant(*items);
        } else {
            std::string scratch;
            const std::string_view text = ElementText(*element, scratch);
            const auto values = ElementValues(*element, text);
            if (index >= 1 && static_cast<std::size_t>(index) <= values.size()) {
                return detail::TypedValue(element->vr, values[static_cast<std::size_t>(index) - 1]);
            }
        }
    }
    detail::ThrowIndexOutOfBounds(index);
}

Variant DicomAttribute::AttributeValue() const {
    const detail::Element* element = owner_.GetImpl()->Find(tag_);
    if (element == nullptr) return Variant();
    if (const DicomDataSets* items = element->Items()) return Variant(*items);
    std::string scratch;
    const std::string_view text = ElementText(*element, scratch);
    if (text.empty()) return Variant();
    // Most values are single, and need no list of values: several are
    // always joined by '\'.
    if (text.find('\\') == std::string_view::npos) return detail::TypedValue(element->vr, text);
    const auto values = ElementValues(*element, text);
    if (values.empty()) return Variant();
    if (values.size() == 1) return detail::TypedValue(element->vr, values.front());
    std::vector<Variant> typed;
    typed.reserve(values.size());
    for (std::string_view value : values) typed.push_back(detail::TypedValue(element->vr, value));
    return Variant(std::move(typed));
}

std::string DicomAttribute::AttributeDisplayName() const { return DisplayName(tag_); }

std::string DicomAttribute::AttributeKeyword() const {
    DcmTag tag(detail::TagGroup(tag_), detail::TagElement(tag_));
    const char* name = tag.getTagName();
    if (tag.getEVR() != EVR_UNKNOWN && name != nullptr && std::strchr(name, ' ') == nullptr)
        return name;
    char text[16];
    std::snprintf(text, sizeof text, "(%04X,%04X)", detail::TagGroup(tag_),
                  detail::TagElement(tag_));
    return text;
}

Variant DicomAttribute::AttributeTypedValue(bool typed) const {
    if (typed) return AttributeValue();
    return AttributeWideValue();
}

Variant DicomAttribute::AttributeWideValue() const {
    const detail::Element* element = owner_.GetImpl()->Find(tag_);
    if (element == nullptr) return Variant();
    if (const DicomDataSets* items = element->Items()) return Variant(*items);
    std::string scratch;
    return Variant(std::string(ElementText(*element, scratch)));
}

TDateTime DicomAttribute::AttributeRangeStart(TDateTime defaultDate) const {
    const detail::Element* element = owner_.GetImpl()->Find(tag_);
    if (element == nullptr || element->Items() != nullptr) return defaultDate;
    std::string scratch;
    return detail::ParseDateRange(element->vr, ElementText(*element, scratch))
        .start.value_or(defaultDate);
}

TDateTime DicomAttribute::AttributeRangeEnd(TDateTime defaultDate) const {
    const detail::Element* element = owner_.GetImpl()->Find(tag_);
    if (element == nullptr || element->Items() != nullptr) return defaultDate;
    std::string scratch;
    return detail::ParseDateRange(element->vr, ElementText(*element, scratch))
        .end.value_or(defaultDate);
}

}  // namespace lumo::dicom
