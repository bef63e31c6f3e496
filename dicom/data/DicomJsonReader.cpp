#include "dicom/data/DicomJsonReader.h"

#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dctag.h>
#include <dcmtk/dcmdata/dcvruv.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/DcmtkVr.h"
#include "dicom/data/detail/VrRules.h"
#include "dicom/data/detail/ReceivedRules.h"
#include "dicom/detail/DcmtkCheck.h"
#include "support/Exception.h"

namespace lumo::dicom {

namespace {

using Json = nlohmann::json;
using detail::Element;
using detail::MakeVr;
using detail::VrCode;

// DCMTK holds binary values in the host's byte order, the model in little
// endian: the two agree on the machines the console runs on.
static_assert(std::endian::native == std::endian::little);

constexpr std::uint32_t kSpecificCharacterSet = 0x00080005;
constexpr const char* kUtf8 = "ISO_IR 192";

[[noreturn]] void NotTheModel(const std::string& why) {
    throw Exception(ErrorClass::EDicomError, "Cannot read DICOM JSON: " + why);
}

std::string TagName(std::uint32_t tag) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", tag);
    return text;
}

std::uint32_t TagOfName(const std::string& name) {
    std::uint32_t tag = 0;
    if (name.size() != 8) NotTheModel("\"" + name + "\" is not a tag (8 hexadecimal digits)");
    for (char c : name) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) NotTheModel("\"" + name + "\" is not a tag (8 hexadecimal digits)");
        tag = tag << 4 | static_cast<std::uint32_t>(digit);
    }
    return tag;
}

std::string Base64Decoded(const std::string& text, std::uint32_t tag) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (const char c : text) {
        if (c == '=' || c == '\n' || c == '\r') continue;
        const std::size_t value = kAlphabet.find(c);
        if (value == std::string_view::npos)
            NotTheModel("InlineBinary of " + TagName(tag) + " is not base64");
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return bytes;
}

// A number as its shortest text that reads back the same.
std::string NumberText(const Json& value) {
    if (value.is_number_integer()) return value.dump();
    std::string text = value.dump();
    if (text.size() > 2 && text.ends_with(".0")) text.resize(text.size() - 2);
    return text;
}

// "Alphabetic=Ideographic=Phonetic", the empty groups at the end left out.
std::string PersonNameText(const Json& value, std::uint32_t tag) {
    if (value.is_string()) return value.get<std::string>();
    if (!value.is_object()) NotTheModel("a person name of " + TagName(tag) + " is not an object");
    std::string groups[3];
    const char* names[3] = {"Alphabetic", "Ideographic", "Phonetic"};
    for (int i = 0; i < 3; ++i) {
        const auto found = value.find(names[i]);
        if (found != value.end() && found->is_string()) groups[i] = found->get<std::string>();
    }
    std::string text = groups[0] + "=" + groups[1] + "=" + groups[2];
    while (!text.empty() && text.back() == '=') text.pop_back();
    return text;
}

std::string OneValueText(VrCode vr, const Json& value, std::uint32_t tag) {
    if (value.is_null()) return {};
    if (vr == MakeVr("PN")) return PersonNameText(value, tag);
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number()) return NumberText(value);
    NotTheModel("a value of " + TagName(tag) + " is neither a text nor a number");
}

std::string ValuesText(VrCode vr, const Json& values, std::uint32_t tag) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += '\\';
        text += OneValueText(vr, values[i], tag);
    }
    return text;
}

template <typename T>
std::vector<T> ValuesOf(const std::string& bytes, std::uint32_t tag) {
    if (bytes.size() % sizeof(T) != 0)
        NotTheModel("InlineBinary of " + TagName(tag) + " is not a whole number of values");
    std::vector<T> values(bytes.size() / sizeof(T));
    if (!values.empty()) std::memcpy(values.data(), bytes.data(), bytes.size());
    return values;
}

// An element of a binary VR, its bytes as the model gives them.
std::shared_ptr<DcmElement> BinaryElement(std::uint32_t tag, VrCode vr, const std::string& bytes) {
    const DcmTag dcmTag(detail::TagGroup(tag), detail::TagElement(tag), detail::VrToDcmtk(vr));
    DcmElement* created = nullptr;
    detail::CheckCondition(DcmItem::newDicomElementWithVR(created, dcmTag), ErrorClass::EDicomError,
                           "Cannot read DICOM JSON: " + TagName(tag));
    std::shared_ptr<DcmElement> element(created);
    if (bytes.empty()) return element;
    OFCondition cond = EC_Normal;
    switch (vr) {
        case MakeVr("OW"): {
            const auto values = ValuesOf<Uint16>(bytes, tag);
            cond = element->putUint16Array(values.data(), values.size());
            break;
        }
        case MakeVr("OF"): {
            const auto values = ValuesOf<Float32>(bytes, tag);
            cond = element->putFloat32Array(values.data(), values.size());
            break;
        }
        case MakeVr("OD"): {
            const auto values = ValuesOf<Float64>(bytes, tag);
            cond = element->putFloat64Array(values.data(), values.size());
            break;
        }
        case MakeVr("OL"): {
            const auto values = ValuesOf<Uint32>(bytes, tag);
            cond = element->putUint32Array(values.data(), values.size());
            break;
        }
        case MakeVr("OV"): {
            const auto values = ValuesOf<Uint64>(bytes, tag);
            auto* veryLong = dynamic_cast<DcmUnsigned64bitVeryLong*>(element.get());
            cond = veryLong ? veryLong->putUint64Array(values.data(), values.size())
                            : OFCondition(EC_IllegalCall);
            break;
        }
        default:  // OB, UN
            cond = element->putUint8Array(reinterpret_cast<const Uint8*>(bytes.data()),
                                          static_cast<unsigned long>(bytes.size()));
    }
    detail::CheckCondition(cond, ErrorClass::EDicomError,
                           "Cannot read DICOM JSON: InlineBinary of " + TagName(tag));
    return element;
}

// An AT element: each value a tag as 8 hexadecimal digits.
std::shared_ptr<DcmElement> TagValuesElement(std::uint32_t tag, const Json& values) {
    std::shared_ptr<DcmElement> element = BinaryElement(tag, MakeVr("AT"), std::string());
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!values[i].is_string()) NotTheModel("a value of " + TagName(tag) + " is not a tag");
        const std::uint32_t value = TagOfName(values[i].get<std::string>());
        detail::CheckCondition(
            element->putTagVal(DcmTagKey(detail::TagGroup(value), detail::TagElement(value)),
                               static_cast<unsigned long>(i)),
            ErrorClass::EDicomError, "Cannot read DICOM JSON: " + TagName(tag));
    }
    return element;
}

DicomDataSet DataSetOf(const Json& object, int depth);

Element ElementOf(std::uint32_t tag, const Json& attribute, int depth) {
    if (!attribute.is_object()) NotTheModel(TagName(tag) + " is not an object");
    Element element;
    element.tag = tag;
    const auto vr = attribute.find("vr");
    element.vr = vr != attribute.end() && vr->is_string() && vr->get<std::string>().size() == 2
                     ? detail::VrFromText(vr->get<std::string>().c_str())
                     : detail::DictionaryVr(tag);
    const auto found = attribute.find("Value");
    const Json empty = Json::array();
    const Json& values = found != attribute.end() && !found->is_null() ? *found : empty;
    if (!values.is_array()) NotTheModel("the Value of " + TagName(tag) + " is not an array");
    if (element.vr == MakeVr("SQ")) {
        DicomDataSets items;
        for (const Json& item : values)
            items.DataSetsAppend(item.is_null() ? DicomDataSet() : DataSetOf(item, depth + 1));
        element.value = std::move(items);
    } else if (element.vr == MakeVr("AT")) {
        element.value = TagValuesElement(tag, values);
    } else if (detail::IsKeptRaw(element.vr)) {
        const auto inline_ = attribute.find("InlineBinary");
        std::string bytes;
        if (inline_ != attribute.end() && inline_->is_string())
            bytes = Base64Decoded(inline_->get<std::string>(), tag);
        element.value = BinaryElement(tag, element.vr, bytes);
    } else {
        element.value = ValuesText(element.vr, values, tag);
    }
    return element;
}

DicomDataSet DataSetOf(const Json& object, int depth) {
    if (depth > detail::kMaxNesting) NotTheModel("sequences nested too deeply");
    if (!object.is_object()) NotTheModel("a data set is not an object");
    DicomDataSet dataSet;
    detail::ElementList& elements = dataSet.GetImpl()->elements;
    elements.reserve(object.size());
    for (const auto& [name, attribute] : object.items())
        elements.push_back(ElementOf(TagOfName(name), attribute, depth));
    std::stable_sort(elements.begin(), elements.end(),
                     [](const Element& a, const Element& b) { return a.tag < b.tag; });
    return dataSet;
}

// Every text of the model is UTF-8: each level that declares a set says so.
void DeclareUtf8(const DicomDataSet& dataSet, bool top) {
    DicomDataSet::Impl& impl = *dataSet.GetImpl();
    if (top || impl.Find(kSpecificCharacterSet) != nullptr)
        impl.Put(Element{kSpecificCharacterSet, MakeVr("CS"), std::string(kUtf8)});
    for (const Element& element : impl.elements) {
        if (const DicomDataSets* items = element.Items()) {
            for (int i = 1; i <= items->DataSetsCount(); ++i)
                DeclareUtf8(items->DataSetsItem(i), false);
        }
    }
}

}  // namespace

DicomDataSets DataSetsOfJson(std::string_view json) {
    Json parsed;
    try {
        parsed = Json::parse(json.begin(), json.end());
    } catch (const Json::exception& e) {
        // "[json.exception.parse_error.101] parse error at ...": the bracket
        // says nothing to an operator.
        const std::string what = e.what();
        const std::size_t end = what.find("] ");
        NotTheModel(end == std::string::npos ? what : what.substr(end + 2));
    }
    if (!parsed.is_array()) NotTheModel("the answer is not an array of data sets");
    DicomDataSets dataSets;
    for (const Json& object : parsed) {
        DicomDataSet dataSet = DataSetOf(object, 0);
        DeclareUtf8(dataSet, true);
        dataSets.DataSetsAppend(dataSet);
    }
    return dataSets;
}

}  // namespace lumo::dicom
