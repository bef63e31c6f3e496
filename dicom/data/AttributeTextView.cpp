#include "dicom/data/AttributeTextView.h"

#include <algorithm>
#include <vector>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/Variant.h"
#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/data/detail/ReceivedRules.h"
#include "dicom/data/detail/ValueText.h"

namespace lumo::dicom {

namespace {

using detail::MakeVr;
using detail::VrCode;

// A whole number as the general conversion writes it back: digits only, no
// leading zero, few enough to fit its 64 bits.
bool IsPlainWholeNumber(std::string_view text) {
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text.front() == '0')) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether the general conversion gives back the very text of a value of
// this VR: true for every character string it does not read as a date, a
// time or a number (several values of a string are joined as they came).
bool KeepsItsText(VrCode vr, std::string_view text) {
    switch (vr) {
        case MakeVr("DA"):
        case MakeVr("DT"):
        case MakeVr("TM"):
        case MakeVr("DS"):
            return false;
        case MakeVr("IS"):
            return IsPlainWholeNumber(text);
        default:
            return detail::IsTextVr(vr);
    }
}

// AttributeValue of a character string of this VR, from its text.
Variant ValueOfText(VrCode vr, std::string_view text) {
    if (text.empty()) return Variant();
    if (text.find('\\') == std::string_view::npos) return detail::TypedValue(vr, text);
    const std::vector<std::string_view> values = detail::SplitValues(vr, text);
    if (values.size() == 1) return detail::TypedValue(vr, values.front());
    std::vector<Variant> typed;
    typed.reserve(values.size());
    for (std::string_view value : values) typed.push_back(detail::TypedValue(vr, value));
    return Variant(std::move(typed));
}

// The text of a character string as the general conversion shows it.
std::string_view Shown(VrCode vr, std::string_view text, std::string& scratch) {
    if (KeepsItsText(vr, text)) return text;
    const Variant value = ValueOfText(vr, text);  // before `scratch`, which `text` may view
    scratch = VarToStr(value);
    return scratch;
}

}  // namespace

std::optional<std::string_view> AttributeText(const DicomDataSet& dataSet, std::uint16_t group,
                                              std::uint16_t element, std::string& scratch) {
    const std::uint32_t tag = detail::MakeTag(group, element);
    const DicomDataSet::Impl& impl = *dataSet.GetImpl();
    // A response kept as its bytes is read there, and stays as compact.
    if (const std::optional<std::string_view> bytes = impl.elements.Encoded()) {
        const detail::EncodedText found = detail::FindEncodedText(*bytes, tag, scratch);
        if (found.kind == detail::EncodedText::Kind::Absent) return std::nullopt;
        if (found.kind == detail::EncodedText::Kind::Text)
            return Shown(found.vr, found.text, scratch);
    }
    const detail::Element* found = impl.Find(tag);
    if (found == nullptr) return std::nullopt;
    if (const std::string* text = found->Text(); text != nullptr && detail::IsTextVr(found->vr))
        return Shown(found->vr, *text, scratch);
    scratch = VarToStr(DicomAttribute(dataSet, tag).AttributeValue());
    return std::string_view(scratch);
}

}  // namespace lumo::dicom
