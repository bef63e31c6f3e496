#include "dicom/data/detail/DcmConvert.h"

#include <dcmtk/dcmdata/dcbytstr.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/DcmtkVr.h"
#include "dicom/data/detail/IncomingText.h"
#include "dicom/data/detail/ReceivedRules.h"
#include "dicom/data/detail/ValueText.h"
#include "dicom/data/detail/VrRules.h"
#include "dicom/detail/DcmtkCheck.h"
#include "support/Exception.h"
#include "support/TextEncoding.h"

namespace lumo::dicom::detail {

namespace {

constexpr std::uint32_t kSpecificCharacterSet = MakeTag(0x0008, 0x0005);
constexpr VrCode kSQ = MakeVr("SQ");

std::string TagText(std::uint32_t tag) {
    char text[16];
    std::snprintf(text, sizeof text, "(%04X,%04X)", TagGroup(tag), TagElement(tag));
    return text;
}

// ---- Outgoing ----------------------------------------------------------

// How the text of one data set (and of its items, unless they declare their
// own character set) goes on the wire. A plain value, owned by the conversion
// that uses it, on that conversion's thread.
struct OutgoingText {
    bool latin1 = true;        // encode to ISO 8859-1; otherwise UTF-8 as is
    bool declareUtf8 = false;  // (0008,0005) is rewritten as ISO_IR 192
    bool allUtf8 = false;      // UTF-8 whatever each item declares
    bool visibleNul = false;   // a NUL written "<00>"
};

OutgoingText OutgoingFor(const std::string& declared, bool outsideLatin1) {
    OutgoingText outgoing;
    if ((declared.empty() || declared == kLatin1Charset) && !outsideLatin1) return outgoing;
    outgoing.latin1 = false;
    // Text inside the program is UTF-8; a set this side cannot encode to is
    // declared as what the text really is.
    outgoing.declareUtf8 = declared != kUtf8Charset;
    return outgoing;
}

const std::string* DeclaredCharset(const DicomDataSet::Impl& source) {
    const Element* element = source.Find(kSpecificCharacterSet);
    return element == nullptr ? nullptr : element->Text();
}

// Whether a UTF-8 text holds a character beyond U+00FF, which Latin-1 has
// no byte for.
bool OutsideLatin1(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0xC4; });
}

// Whether a text of the data set, or of the items that follow its character
// set, cannot be written in Latin-1. Such a data set goes out in UTF-8, so
// that no character is replaced by "?", a wildcard in a query.
bool NeedsUtf8(const DicomDataSet::Impl& source, int depth) {
    if (depth > kMaxNesting) return false;  // FillItem refuses a data set that contains itself
    for (const Element& element : source.elements) {
        if (const DicomDataSets* items = element.Items()) {
            for (const DicomDataSet& item : items->GetImpl()->items) {
                if (!DeclaredCharset(*item.GetImpl()) && NeedsUtf8(*item.GetImpl(), depth + 1))
                    return true;
            }
        } else if (const std::string* text = element.Text()) {
            if (element.tag != kSpecificCharacterSet && OutsideLatin1(*text)) return true;
        }
    }
    return false;
}

// An element holding a text, encoded as the data set goes out.
std::unique_ptr<DcmElement> TextElement(const Element& element, const DcmTag& tag,
                                        const OutgoingText& outgoing) {
    std::string text = *element.Text();
    if (element.tag == kSpecificCharacterSet && outgoing.declareUtf8) {
        text = kUtf8Charset;
    } else if (outgoing.latin1 && !IsAscii(text)) {
        text = Utf8ToLatin1(text);
    }
    if (outgoing.visibleNul) {
        for (std::size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at))
            text.replace(at, 1, "<00>");
    }
    if (!FitsBinaryVr(element.vr, text)) {
        throw Exception(ErrorClass::EDicomError, "Invalid value for " + TagText(element.tag) + " " +
                                                     VrText(element.vr) + ": " + *element.Text());
    }
    DcmElement* created = nullptr;
    CheckCondition(DcmItem::newDicomElementWithVR(created, tag), ErrorClass::EDicomError,
                   "Cannot create " + TagText(element.tag));
    std::unique_ptr<DcmElement> owned(created);
    CheckCondition(owned->putOFStringArray(OFString(text.data(), text.size())),
                   ErrorClass::EDicomError,
                   "Invalid value for " + TagText(element.tag) + " " + VrText(element.vr));
    return owned;
}

void Insert(DcmItem& target, std::unique_ptr<DcmElement> element, std::uint32_t tag) {
    CheckCondition(target.insert(element.get(), OFTrue), ErrorClass::EDicomError,
                   "Cannot put " + TagText(tag) + " into the data set");
    element.release();  // the item owns it now
}

void FillItem(DcmItem& target, const DicomDataSet::Impl& source, OutgoingText outgoing,
              std::vector<const DicomDataSet::Impl*>& path) {
    if (const std::string* declared = DeclaredCharset(source); declared && !outgoing.allUtf8) {
        outgoing = OutgoingFor(TrimmedCharset(*declared), !outgoing.latin1 && path.empty());
    }
    path.push_back(&source);
    for (const Element& element : source.elements) {
        // Command-group elements belong to the message, not to the identifier.
        if (TagGroup(element.tag) == 0x0000) continue;
        const DcmTag tag(TagGroup(element.tag), TagElement(element.tag), VrToDcmtk(element.vr));
        if (const DicomDataSets* items = element.Items()) {
            auto sequence = std::make_unique<DcmSequenceOfItems>(tag);
            for (const DicomDataSet& item : items->GetImpl()->items) {
                const DicomDataSet::Impl* itemImpl = item.GetImpl().get();
                if (std::find(path.begin(), path.end(), itemImpl) != path.end()) {
                    throw Exception(ErrorClass::EDicomError,
                                    "The sequence " + TagText(element.tag) +
                                        " holds a data set that contains it");
                }
                auto dcmItem = std::make_unique<DcmItem>();
                FillItem(*dcmItem, *itemImpl, outgoing, path);
                CheckCondition(sequence->insert(dcmItem.get()), ErrorClass::EDicomError,
                               "Cannot put an item into " + TagText(element.tag));
                dcmItem.release();  // the sequence owns it now
            }
            Insert(target, std::move(sequence), element.tag);
        } else if (const auto* raw = element.Raw()) {
            std::unique_ptr<DcmElement> copy(OFstatic_cast(DcmElement*, (*raw)->clone()));
            Insert(target, std::move(copy), element.tag);
        } else {
            Insert(target, TextElement(element, tag, outgoing), element.tag);
        }
    }
    path.pop_back();
}

// ---- Incoming ----------------------------------------------------------

std::string DeclaredCharset(DcmItem& item) {
    OFString declared;
    if (item.findAndGetOFStringArray(DCM_SpecificCharacterSet, declared, OFFalse).bad()) {
        return std::string();
    }
    return TrimmedCharset(std::string_view(declared.c_str(), declared.size()));
}

// What reading a data set's text noted: the first set that failed, and how
// undeclared text was read.
struct TextNotes {
    std::string undecodable;
    std::uint8_t undeclared = kReadAsDeclared;
};

// A value's text, decoded, and what it notes.
std::string Decoded(const IncomingText& incoming, VrCode vr, const char* bytes, std::size_t length,
                    TextNotes& notes) {
    bool failed = false;
    std::string text = incoming.Decode(vr, bytes, length, &failed, &notes.undeclared);
    if (failed && notes.undecodable.empty()) notes.undecodable = incoming.Declared();
    return text;
}

// The value of an element other than a sequence: its text decoded to UTF-8,
// or the element itself for binary VRs and values without a text form.
Element::Value LeafValue(DcmElement& source, VrCode vr, const IncomingText& incoming,
                         TextNotes& notes) {
    if (IsKeptRaw(vr) || !source.isLeaf())
        return std::shared_ptr<DcmElement>(OFstatic_cast(DcmElement*, source.clone()));
    // Most values need no trimming (DCMTK has dropped the trailing padding):
    // read in place, they save DCMTK's normalised copy of every value of
    // every response.
    char* bytes = nullptr;
    Uint32 length = 0;
    if (IsTextVr(source.ident()) &&
        OFstatic_cast(DcmByteString*, &source)->getString(bytes, length).good() &&
        IsUnpadded(std::string_view(bytes == nullptr ? "" : bytes, length))) {
        return Decoded(incoming, vr, bytes == nullptr ? "" : bytes, length, notes);
    }
    if (OFString text; source.getOFStringArray(text, OFTrue).good())
        return Decoded(incoming, vr, text.c_str(), text.size(), notes);
    return std::shared_ptr<DcmElement>(OFstatic_cast(DcmElement*, source.clone()));
}

std::shared_ptr<DicomDataSet::Impl> FromItem(DcmItem& item, const IncomingText& inherited,
                                             int depth, TextNotes& notes) {
    if (depth > kMaxNesting)
        throw Exception(ErrorClass::EDicomError, "Sequences nested too deeply");
    IncomingText own;
    const IncomingText* incoming = &inherited;
    std::optional<std::string_view> rewrittenCharset;
    if (item.tagExists(DCM_SpecificCharacterSet, OFFalse)) {
        own = IncomingText(DeclaredCharset(item));
        incoming = &own;
        rewrittenCharset = own.RewrittenCharset();
    }

    auto impl = std::make_shared<DicomDataSet::Impl>();
    impl->elements.reserve(item.card());
    // Walked from element to element: getElement(i) would seek from the start.
    for (DcmObject* next = item.nextInContainer(nullptr); next != nullptr;
         next = item.nextInContainer(next)) {
        auto* source = OFstatic_cast(DcmElement*, next);
        const DcmTag& tag = source->getTag();
        Element element;
        element.tag = MakeTag(tag.getGroup(), tag.getElement());
        element.vr = source->ident() == EVR_SQ ? kSQ : VrFromDcmtk(source->getVR());
        if (source->ident() == EVR_SQ) {
            auto* sequence = OFstatic_cast(DcmSequenceOfItems*, source);
            DicomDataSets items;
            items.GetImpl()->items.reserve(sequence->card());
            for (DcmObject* dcmItem = sequence->nextInContainer(nullptr); dcmItem != nullptr;
                 dcmItem = sequence->nextInContainer(dcmItem)) {
                items.DataSetsAppend(DicomDataSet(
                    FromItem(*OFstatic_cast(DcmItem*, dcmItem), *incoming, depth + 1, notes)));
            }
            element.value = std::move(items);
        } else if (element.tag == kSpecificCharacterSet && rewrittenCharset &&
                   !IsKeptRaw(element.vr) && source->isLeaf()) {
            element.value = std::string(*rewrittenCharset);
        } else {
            element.value = LeafValue(*source, element.vr, *incoming, notes);
        }
        impl->elements.push_back(std::move(element));
    }
    // DCMTK keeps an item sorted; a hand-built one may not be.
    if (!std::is_sorted(impl->elements.begin(), impl->elements.end(),
                        [](const Element& a, const Element& b) { return a.tag < b.tag; })) {
        std::stable_sort(impl->elements.begin(), impl->elements.end(),
                         [](const Element& a, const Element& b) { return a.tag < b.tag; });
    }
    return impl;
}

}  // namespace

std::unique_ptr<DcmDataset> ToDcmDataset(const DicomDataSet& dataSet) {
    auto dataset = std::make_unique<DcmDataset>();
    std::vector<const DicomDataSet::Impl*> path;
    const DicomDataSet::Impl& source = *dataSet.GetImpl();
    OutgoingText outgoing;
    const std::string* declared = DeclaredCharset(source);
    const bool latin1 = !declared || TrimmedCharset(*declared).empty() ||
                        TrimmedCharset(*declared) == kLatin1Charset;
    if (latin1 && NeedsUtf8(source, 0)) outgoing = OutgoingFor(kUtf8Charset, true);
    FillItem(*dataset, source, outgoing, path);
    if (!outgoing.latin1 && !declared) {
        CheckCondition(dataset->putAndInsertString(DCM_SpecificCharacterSet, kUtf8Charset),
                       ErrorClass::EDicomError, "Cannot declare the character set");
    }
    return dataset;
}

std::unique_ptr<DcmDataset> ToDcmDatasetInUtf8(const DicomDataSet& dataSet) {
    auto dataset = std::make_unique<DcmDataset>();
    std::vector<const DicomDataSet::Impl*> path;
    FillItem(*dataset, *dataSet.GetImpl(), OutgoingText{false, true, true, true}, path);
    return dataset;
}

DicomDataSet FromDcmItem(DcmItem& item) {
    TextNotes notes;
    auto impl = FromItem(item, IncomingText(std::string()), 0, notes);
    impl->undecodableCharset = std::move(notes.undecodable);
    impl->undeclaredReading = notes.undeclared;
    return DicomDataSet(std::move(impl));
}

}  // namespace lumo::dicom::detail
