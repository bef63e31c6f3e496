#include "dicom/WireDataSet.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmnet/cond.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dicom/DataSetImpl.h"
#include "dicom/DcmConvert.h"
#include "dicom/IncomingText.h"
#include "dicom/NestingScan.h"
#include "dicom/ReceivedRules.h"

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
// the bytes. Borrows the scratch lists of its thread; used on that thread,
// for one data set.
class PlainReader {
  public:
    PlainReader(std::string_view bytes, ScratchLists& scratch) : bytes_(bytes), scratch_(scratch) {}

    std::optional<DicomDataSet> Read() {
        std::shared_ptr<DicomDataSet::Impl> impl =
            ReadItem(bytes_.size(), false, IncomingText(), 0);
        if (!impl || pos_ != bytes_.size()) return std::nullopt;
        impl->undecodableCharset = std::move(undecodable_);
        return DicomDataSet(std::move(impl));
    }

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

    std::string Decode(const IncomingText& incoming, VrCode vr, std::string_view value) {
        bool failed = false;
        std::string text = incoming.Decode(vr, value.data(), value.size(), &failed);
        if (failed && undecodable_.empty()) undecodable_ = incoming.Declared();
        return text;
    }

    // The elements up to `limit`, or up to an item delimitation when
    // `delimited`; null when anything is not plain.
    std::shared_ptr<DicomDataSet::Impl> ReadItem(std::size_t limit, bool delimited,
                                                 const IncomingText& inherited, int depth) {
        if (depth > kMaxNesting) return nullptr;
        std::vector<Element>& elements = scratch_[static_cast<std::size_t>(depth)];
        elements.clear();
        IncomingText own;
        const IncomingText* incoming = &inherited;
        while (delimited || pos_ != limit) {
            if (!Left(limit, 8)) return nullptr;
            const std::uint32_t tag = TagAt(pos_);
            if (TagGroup(tag) == 0xFFFE) {
                if (!delimited || tag != kItemEnd || U32(pos_ + 4) != 0) return nullptr;
                pos_ += 8;
                break;
            }
            if (!elements.empty() && tag <= elements.back().tag) return nullptr;
            const auto vr =
                static_cast<VrCode>((static_cast<unsigned char>(bytes_[pos_ + 4]) << 8) |
                                    static_cast<unsigned char>(bytes_[pos_ + 5]));
            const VrLayout layout = LayoutOf(vr);
            if (layout.kind == VrLayout::Kind::Other || !IsOrdinaryTag(tag, vr)) return nullptr;
            std::uint32_t length = U16(pos_ + 6);
            if (layout.longLength) {
                if (!Left(limit, 12)) return nullptr;
                length = U32(pos_ + 8);
                pos_ += 12;
            } else {
                pos_ += 8;
            }

            Element element;
            element.tag = tag;
            element.vr = vr;
            if (layout.kind == VrLayout::Kind::Sequence) {
                // Its items follow the data set's character set, known only
                // once (0008,0005) has gone by.
                if (tag < kSpecificCharacterSet) return nullptr;
                DicomDataSets items;
                if (!ReadSequence(limit, length, *incoming, depth, items)) return nullptr;
                element.value = std::move(items);
            } else {
                if (length == kUndefinedLength || length % 2 != 0 || !Left(limit, length)) {
                    return nullptr;
                }
                std::string_view value = bytes_.substr(pos_, length);
                pos_ += length;
                if (layout.kind == VrLayout::Kind::Number) {
                    if (length % layout.numberSize != 0) return nullptr;
                    element.value = NumberText(value, layout);
                } else {
                    value = WithoutTrailingPadding(vr, value);
                    if (!IsUnpadded(value)) return nullptr;
                    if (vr == kUI && !IsUidText(value)) return nullptr;
                    if (tag == kSpecificCharacterSet) {
                        own = IncomingText(TrimmedCharset(value));
                        incoming = &own;
                        const std::optional<std::string_view> rewritten = own.RewrittenCharset();
                        element.value =
                            rewritten ? std::string(*rewritten) : Decode(own, vr, value);
                    } else {
                        // Before (0008,0005) the set is not known yet; ASCII
                        // reads the same in all of them.
                        if (tag < kSpecificCharacterSet && !IsAscii(value)) return nullptr;
                        element.value = Decode(*incoming, vr, value);
                    }
                }
            }
            elements.push_back(std::move(element));
        }
        auto impl = std::make_shared<DicomDataSet::Impl>();
        impl->elements.reserve(elements.size());
        for (Element& element : elements) impl->elements.push_back(std::move(element));
        elements.clear();
        return impl;
    }

    bool ReadSequence(std::size_t limit, std::uint32_t length, const IncomingText& incoming,
                      int depth, DicomDataSets& items) {
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
            if (itemLength == kUndefinedLength) {
                item = ReadItem(end, true, incoming, depth + 1);
            } else {
                if (itemLength % 2 != 0 || !Left(end, itemLength)) return false;
                item = ReadItem(pos_ + itemLength, false, incoming, depth + 1);
            }
            if (!item) return false;
            items.DataSetsAppend(DicomDataSet(std::move(item)));
        }
        return true;
    }

    std::string_view bytes_;
    std::size_t pos_ = 0;
    std::string undecodable_;
    ScratchLists& scratch_;
};

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
    return PlainReader(bytes, scratch).Read();
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
        plain = ReadPlainDataSet(bytes);
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
