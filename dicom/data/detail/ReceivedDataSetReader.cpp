#include "dicom/data/detail/ReceivedDataSetReader.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmnet/cond.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/DcmConvert.h"
#include "dicom/data/detail/IncomingText.h"
#include "dicom/data/detail/NestingScan.h"
#include "dicom/data/detail/ReceivedRules.h"
#include "support/Exception.h"

namespace lumo::dicom::detail {

namespace {

constexpr std::uint32_t kSpecificCharacterSet = MakeTag(0x0008, 0x0005);
constexpr std::uint32_t kItem = MakeTag(0xFFFE, 0xE000);
constexpr std::uint32_t kItemEnd = MakeTag(0xFFFE, 0xE00D);
constexpr std::uint32_t kSequenceEnd = MakeTag(0xFFFE, 0xE0DD);
constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFF;

constexpr VrCode kUI = MakeVr("UI");
constexpr VrCode kLO = MakeVr("LO");

// What the plain reading makes of a VR.
struct VrLayout {
    enum class Kind { Text, Number, Sequence, Other } kind = Kind::Other;
    bool longLength = false;  // a 4-byte length after 2 reserved bytes
    unsigned numberSize = 0;  // bytes per value of a number
    bool numberSigned = false;
};

VrLayout LayoutOf(VrCode vr) {
    using Kind = VrLayout::Kind;
    if (IsTextVr(vr)) {
        const bool longLength = vr == MakeVr("UC") || vr == MakeVr("UR") || vr == MakeVr("UT");
        return {Kind::Text, longLength, 0, false};
    }
    switch (vr) {
        case MakeVr("US"):
            return {Kind::Number, false, 2, false};
        case MakeVr("SS"):
            return {Kind::Number, false, 2, true};
        case MakeVr("UL"):
            return {Kind::Number, false, 4, false};
        case MakeVr("SL"):
            return {Kind::Number, false, 4, true};
        case MakeVr("SQ"):
            return {Kind::Sequence, true, 0, false};
        default:
            return {};
    }
}

// Tags whose reading DCMTK treats in its own way (meta and command groups,
// illegal private groups, private creators of another VR, item and padding
// tags), left to it.
bool IsOrdinaryTag(std::uint32_t tag, VrCode vr) {
    const std::uint16_t group = TagGroup(tag);
    const std::uint16_t element = TagElement(tag);
    if (group < 0x0008 || group >= 0xFFFC) return false;
    if (group % 2 == 1) {
        if (element < 0x0010) return false;
        if (element <= 0x00FF && vr != kLO) return false;
    }
    return true;
}

// The values of a number element as DCMTK writes them: decimal, joined by '\'.
std::string NumberText(std::string_view bytes, const VrLayout& layout) {
    std::string text;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size(); at += layout.numberSize) {
        if (at > 0) text += '\\';
        std::uint32_t value = data[at] | (static_cast<std::uint32_t>(data[at + 1]) << 8);
        if (layout.numberSize == 4) {
            value |= (static_cast<std::uint32_t>(data[at + 2]) << 16) |
                     (static_cast<std::uint32_t>(data[at + 3]) << 24);
        }
        if (!layout.numberSigned) {
            text += std::to_string(value);
        } else if (layout.numberSize == 2) {
            text += std::to_string(static_cast<std::int16_t>(value));
        } else {
            text += std::to_string(static_cast<std::int32_t>(value));
        }
    }
    return text;
}

// The elements of the item being read at each depth, kept from item to item
// and from one response to the next, so that reading a data set allocates
// only its finished lists.
using ScratchLists = std::array<std::vector<Element>, kMaxNesting + 1>;

// One reading of one data set's bytes. Every read is checked against the
// bound of the item it belongs to, so no length, however large, reads past
// the bytes. When it does not build the elements, it checks all the same
// that every byte reads plainly, and which text will not decode. Borrows
// the scratch lists of its thread; used on that thread, for one data set.
class PlainReader {
  public:
    PlainReader(std::string_view bytes, ScratchLists& scratch, bool build)
        : bytes_(bytes), scratch_(scratch), build_(build) {}

    // The top-level elements, or only true when not building.
    bool Read(std::shared_ptr<DicomDataSet::Impl>* impl) {
        return ReadItem(bytes_.size(), false, IncomingText(), 0, build_ ? impl : nullptr) &&
               pos_ == bytes_.size();
    }

    std::string TakeUndecodable() { return std::move(undecodable_); }
    std::uint8_t Undeclared() const { return undeclared_; }

  private:
    bool Left(std::size_t limit, std::size_t count) const {
        return limit >= pos_ && limit - pos_ >= count;
    }
    std::uint16_t U16(std::size_t at) const {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes_[at]) |
                                          (static_cast<unsigned char>(bytes_[at + 1]) << 8));
    }
    std::uint32_t U32(std::size_t at) const {
        return U16(at) | (static_cast<std::uint32_t>(U16(at + 2)) << 16);
    }
    std::uint32_t TagAt(std::size_t at) const {
        return (static_cast<std::uint32_t>(U16(at)) << 16) | U16(at + 2);
    }

    // A text value, decoded into `element` when building; otherwise only
    // decoded when that could fail, to know whether it does.
    void Text(const IncomingText& incoming, VrCode vr, std::string_view value, Element* element) {
        if (element == nullptr) {
            undeclared_ |= incoming.ReadingOf(value);
            if (!undecodable_.empty() || !incoming.MayFail(value)) return;
        }
        bool failed = false;
        std::string text = incoming.Decode(vr, value.data(), value.size(), &failed, &undeclared_);
        if (failed && undecodable_.empty()) undecodable_ = incoming.Declared();
        if (element != nullptr) element->value = std::move(text);
    }

    // The elements up to `limit`, or up to an item delimitation when
    // `delimited`, into `out` unless it is null; false when anything is not
    // plain.
    bool ReadItem(std::size_t limit, bool delimited, const IncomingText& inherited, int depth,
                  std::shared_ptr<DicomDataSet::Impl>* out) {
        if (depth > kMaxNesting) return false;
        std::vector<Element>& elements = scratch_[static_cast<std::size_t>(depth)];
        elements.clear();
        IncomingText own;
        const IncomingText* incoming = &inherited;
        std::optional<std::uint32_t> last;
        while (delimited || pos_ != limit) {
            if (!Left(limit, 8)) return false;
            const std::uint32_t tag = TagAt(pos_);
            if (TagGroup(tag) == 0xFFFE) {
                if (!delimited || tag != kItemEnd || U32(pos_ + 4) != 0) return false;
                pos_ += 8;
                break;
            }
            if (last && tag <= *last) return false;
            last = tag;
            Element element;
            if (!ReadElement(limit, tag, own, incoming, depth, out ? &element : nullptr))
                return false;
            if (out) elements.push_back(std::move(element));
        }
        if (out == nullptr) return true;
        auto impl = std::make_shared<DicomDataSet::Impl>();
        impl->elements.reserve(elements.size());
        for (Element& element : elements) impl->elements.push_back(std::move(element));
        elements.clear();
        *out = std::move(impl);
        return true;
    }

    // The element whose header is at the reading position, its value into
    // `element` unless it is null. (0008,0005) makes `own` the set of the
    // item's text.
    bool ReadElement(std::size_t limit, std::uint32_t tag, IncomingText& own,
                     const IncomingText*& incoming, int depth, Element* element) {
        const auto vr = static_cast<VrCode>((static_cast<unsigned char>(bytes_[pos_ + 4]) << 8) |
                                            static_cast<unsigned char>(bytes_[pos_ + 5]));
        const VrLayout layout = LayoutOf(vr);
        if (layout.kind == VrLayout::Kind::Other || !IsOrdinaryTag(tag, vr)) return false;
        std::uint32_t length = U16(pos_ + 6);
        if (layout.longLength) {
            if (!Left(limit, 12)) return false;
            length = U32(pos_ + 8);
            pos_ += 12;
        } else {
            pos_ += 8;
        }
        if (element != nullptr) {
            element->tag = tag;
            element->vr = vr;
        }
        if (layout.kind == VrLayout::Kind::Sequence) {
            // Its items follow the data set's character set, known only
            // once (0008,0005) has gone by.
            if (tag < kSpecificCharacterSet) return false;
            DicomDataSets items;
            if (!ReadSequence(limit, length, *incoming, depth, element ? &items : nullptr))
                return false;
            if (element != nullptr) element->value = std::move(items);
            return true;
        }
        if (length == kUndefinedLength || length % 2 != 0 || !Left(limit, length)) return false;
        std::string_view value = bytes_.substr(pos_, length);
        pos_ += length;
        if (layout.kind == VrLayout::Kind::Number) {
            if (length % layout.numberSize != 0) return false;
            if (element != nullptr) element->value = NumberText(value, layout);
            return true;
        }
        value = WithoutTrailingPadding(vr, value);
        if (!IsUnpadded(value)) return false;
        if (vr == kUI && !IsUidText(value)) return false;
        if (tag == kSpecificCharacterSet) {
            own = IncomingText(TrimmedCharset(value));
            incoming = &own;
            const std::optional<std::string_view> rewritten = own.RewrittenCharset();
            if (!rewritten) {
                Text(own, vr, value, element);
            } else if (element != nullptr) {
                element->value = std::string(*rewritten);
            }
            return true;
        }
        // Before (0008,0005) the set is not known yet; ASCII reads the same
        // in all of them.
        if (tag < kSpecificCharacterSet && !IsAscii(value)) return false;
        Text(*incoming, vr, value, element);
        return true;
    }

    bool ReadSequence(std::size_t limit, std::uint32_t length, const IncomingText& incoming,
                      int depth, DicomDataSets* items) {
        const bool undefined = length == kUndefinedLength;
        std::size_t end = limit;
        if (!undefined) {
            if (length % 2 != 0 || !Left(limit, length)) return false;
            end = pos_ + length;
        }
        while (undefined || pos_ != end) {
            if (!Left(end, 8)) return false;
            const std::uint32_t tag = TagAt(pos_);
            const std::uint32_t itemLength = U32(pos_ + 4);
            pos_ += 8;
            if (undefined && tag == kSequenceEnd) return itemLength == 0;
            if (tag != kItem) return false;
            std::shared_ptr<DicomDataSet::Impl> item;
            std::shared_ptr<DicomDataSet::Impl>* into = items ? &item : nullptr;
            if (itemLength == kUndefinedLength) {
                if (!ReadItem(end, true, incoming, depth + 1, into)) return false;
            } else {
                if (itemLength % 2 != 0 || !Left(end, itemLength)) return false;
                if (!ReadItem(pos_ + itemLength, false, incoming, depth + 1, into)) return false;
            }
            if (items != nullptr) items->DataSetsAppend(DicomDataSet(std::move(item)));
        }
        return true;
    }

    std::string_view bytes_;
    std::size_t pos_ = 0;
    std::string undecodable_;
    std::uint8_t undeclared_ = kReadAsDeclared;
    ScratchLists& scratch_;
    const bool build_;
};

// The element of `tag` in the top level of bytes that read plainly: where
// its value lies and how long its header is; the value is empty for an
// absent element, and `undefined` is set for a sequence on the way whose
// end only a walk through its items would find.
struct EncodedElement {
    bool found = false;
    bool undefined = false;
    VrCode vr = 0;
    std::string_view value;
    std::string_view charset;  // (0008,0005) as far as the walk went
};

EncodedElement FindEncoded(std::string_view bytes, std::uint32_t tag) {
    const auto u16 = [bytes](std::size_t at) {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                          (static_cast<unsigned char>(bytes[at + 1]) << 8));
    };
    EncodedElement found;
    for (std::size_t pos = 0; pos + 8 <= bytes.size();) {
        const std::uint32_t at = (static_cast<std::uint32_t>(u16(pos)) << 16) | u16(pos + 2);
        if (at > tag) break;
        const auto vr = static_cast<VrCode>((static_cast<unsigned char>(bytes[pos + 4]) << 8) |
                                            static_cast<unsigned char>(bytes[pos + 5]));
        const VrLayout layout = LayoutOf(vr);
        const std::size_t header = layout.longLength ? 12 : 8;
        const std::uint32_t length =
            layout.longLength ? u16(pos + 8) | (static_cast<std::uint32_t>(u16(pos + 10)) << 16)
                              : u16(pos + 6);
        if (length == kUndefinedLength) {
            found.undefined = true;
            return found;
        }
        const std::string_view value = bytes.substr(pos + header, length);
        if (at == kSpecificCharacterSet) found.charset = WithoutTrailingPadding(vr, value);
        if (at == tag) {
            found.found = true;
            found.vr = vr;
            found.value = value;
            return found;
        }
        pos += header + length;
    }
    return found;
}

// The switch of every response to DCMTK: off unless the environment asks,
// read once, the first time it is asked.
std::atomic<bool>& DcmtkReaderOnly() {
    static std::atomic<bool> only = [] {
        const char* value = std::getenv("LUMO4410_DCMTK_READER");
        return value != nullptr && std::string_view(value) == "1";
    }();
    return only;
}

}  // namespace

std::optional<DicomDataSet> ReadPlainDataSet(std::string_view bytes) {
    thread_local ScratchLists scratch;
    PlainReader reader(bytes, scratch, true);
    std::shared_ptr<DicomDataSet::Impl> impl;
    if (!reader.Read(&impl)) return std::nullopt;
    impl->undecodableCharset = reader.TakeUndecodable();
    impl->undeclaredReading = reader.Undeclared();
    return DicomDataSet(std::move(impl));
}

std::optional<DicomDataSet> KeepPlainDataSet(std::string_view bytes) {
    thread_local ScratchLists scratch;
    PlainReader reader(bytes, scratch, false);
    if (!reader.Read(nullptr)) return std::nullopt;
    auto impl = std::make_shared<DicomDataSet::Impl>();
    impl->elements.KeepEncoded(bytes);
    impl->undecodableCharset = reader.TakeUndecodable();
    impl->undeclaredReading = reader.Undeclared();
    return DicomDataSet(std::move(impl));
}

EncodedText FindEncodedText(std::string_view bytes, std::uint32_t tag, std::string& scratch) {
    EncodedText found;
    const EncodedElement element = FindEncoded(bytes, tag);
    found.kind = EncodedText::Kind::NeedsElements;
    if (element.undefined) return found;
    if (!element.found) {
        found.kind = EncodedText::Kind::Absent;
        return found;
    }
    // What the set of (0008,0005) and numbers turn into is the reading's own.
    if (LayoutOf(element.vr).kind != VrLayout::Kind::Text || tag == kSpecificCharacterSet)
        return found;
    const std::optional<std::string_view> text = IncomingText::DecodeWithoutDecoder(
        element.charset, WithoutTrailingPadding(element.vr, element.value), scratch);
    if (!text) return found;
    found.kind = EncodedText::Kind::Text;
    found.vr = element.vr;
    found.text = *text;
    return found;
}

std::vector<Element> ReadEncodedElements(std::string_view bytes) {
    std::optional<DicomDataSet> read = ReadPlainDataSet(bytes);
    // The very bytes read plainly when they were kept.
    if (!read) throw Exception(ErrorClass::EDicomError, "A kept data set no longer reads");
    std::vector<Element> elements;
    elements.reserve(read->GetImpl()->elements.size());
    for (Element& element : read->GetImpl()->elements) elements.push_back(std::move(element));
    return elements;
}

void ElementList::KeepEncoded(std::string_view bytes) {
    std::shared_ptr<char[]> kept = std::make_shared_for_overwrite<char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), kept.get());
    elements_.clear();
    encoded_ = std::move(kept);
    encodedSize_ = bytes.size();
}

void ElementList::Decode() const {
    std::vector<Element> elements =
        ReadEncodedElements(std::string_view(encoded_.get(), encodedSize_));
    elements_ = std::move(elements);
    encoded_.reset();
    encodedSize_ = 0;
}

OFCondition ReadIntoDcmtk(std::string_view bytes, E_TransferSyntax xfer, DcmDataset& out,
                          E_GrpLenEncoding groupLength) {
    if (!NestsWithin(bytes, xfer, kMaxNesting)) return NestedTooDeep();
    DcmInputBufferStream stream;
    if (!bytes.empty()) stream.setBuffer(bytes.data(), static_cast<offile_off_t>(bytes.size()));
    stream.setEos();
    out.transferInit();
    const OFCondition cond = out.read(stream, xfer, groupLength);
    out.transferEnd();
    // Bytes that end inside an element leave DCMTK waiting for more: it
    // keeps what it has, as its own receiving does.
    if (cond.bad() && cond != EC_StreamNotifyClient) return cond;
    return EC_Normal;
}

OFCondition NestedTooDeep() {
    static const std::string text =
        "response nests sequences more than " + std::to_string(kMaxNesting) + " deep";
    return makeDcmnetCondition(DIMSEC_PARSEFAILED, OF_error, text.c_str());
}

OFCondition ReadWithDcmtk(std::string_view bytes, E_TransferSyntax xfer, DicomDataSet& out) {
    DcmDataset dataset;
    const OFCondition cond = ReadIntoDcmtk(bytes, xfer, dataset);
    // A failed reading says what DCMTK's own receiving would.
    if (cond.bad()) return cond == NestedTooDeep() ? cond : OFCondition(DIMSE_RECEIVEFAILED);
    out = FromDcmItem(dataset);
    return EC_Normal;
}

bool SetDcmtkReaderOnly(bool only) {
    return DcmtkReaderOnly().exchange(only, std::memory_order_relaxed);
}

// LUMO4410_DCMTK_READER=1 in the environment (or SetDcmtkReaderOnly) sends
// every response through DCMTK: to rule the plain reading out when a listing
// looks wrong, and to measure what it saves (bench/queryrun).
OFCondition ReadReceivedDataSet(std::string_view bytes, E_TransferSyntax xfer, DicomDataSet& out) {
    OFCondition cond = EC_Normal;
    std::optional<DicomDataSet> plain;
    if (xfer == EXS_LittleEndianExplicit && !DcmtkReaderOnly().load(std::memory_order_relaxed))
        plain = KeepPlainDataSet(bytes);
    if (plain) {
        out = std::move(*plain);
    } else {
        cond = ReadWithDcmtk(bytes, xfer, out);
    }
    // Text that could not be decoded: the bytes are kept, so that a saved
    // file holds what the node really sent.
    DicomDataSet::Impl& impl = *out.GetImpl();
    if (cond.good() && !impl.undecodableCharset.empty()) {
        impl.received = std::make_shared<const DicomDataSet::Impl::Received>(
            DicomDataSet::Impl::Received{std::string(bytes), static_cast<int>(xfer)});
    }
    return cond;
}

}  // namespace lumo::dicom::detail
