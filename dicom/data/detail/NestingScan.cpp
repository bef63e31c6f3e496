#include "dicom/data/detail/NestingScan.h"

#include <dcmtk/dcmdata/dctag.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lumo::dicom::detail {

namespace {

constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFF;
constexpr std::size_t kOpenEnd = std::string_view::npos;

// A sequence or an item not closed yet: where its defined length ends
// (kOpenEnd for an undefined length) and how its elements are encoded
// (inside a UN of undefined length, implicit VR little endian).
struct Open {
    bool item;
    std::size_t end;
    bool implicitLittle;
};

// The VRs whose length takes four bytes after two reserved ones.
bool HasLongLength(char first, char second) {
    static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                        "SV", "UC", "UN", "UR", "UT", "UV"};
    for (const char* vr : kLong) {
        if (vr[0] == first && vr[1] == second) return true;
    }
    return false;
}

// The walk over one data set's bytes. Used for one data set, on its thread.
class Walk {
  public:
    Walk(std::string_view bytes, E_TransferSyntax xfer, int maxDepth)
        : bytes_(bytes), maxDepth_(maxDepth) {
        const DcmXfer syntax(xfer);
        implicit_ = syntax.isImplicitVR();
        big_ = syntax.isBigEndian();
    }

    bool Within() {
        while (Step()) {
            if (depth_ > maxDepth_) return false;
        }
        return pos_ >= bytes_.size() || depth_ + ItemTagsFrom(pos_) <= maxDepth_;
    }

  private:
    bool Little() const { return !big_ || (!open_.empty() && open_.back().implicitLittle); }
    bool Implicit() const { return implicit_ || (!open_.empty() && open_.back().implicitLittle); }
    std::uint16_t U16(std::size_t at) const {
        const auto lo = static_cast<unsigned char>(bytes_[at]);
        const auto hi = static_cast<unsigned char>(bytes_[at + 1]);
        return static_cast<std::uint16_t>(Little() ? lo | hi << 8 : hi | lo << 8);
    }
    std::uint32_t U32(std::size_t at) const {
        const std::uint32_t first = U16(at);
        const std::uint32_t second = U16(at + 2);
        return Little() ? first | second << 16 : second | first << 16;
    }
    std::size_t Left() const { return bytes_.size() - pos_; }

    // Item tags anywhere from `at` on, in either byte order: the most levels
    // the bytes the walk could not follow may still open.
    int ItemTagsFrom(std::size_t at) const {
        int count = 0;
        for (std::size_t i = at; i + 4 <= bytes_.size() && count <= maxDepth_; ++i) {
            const std::string_view four = bytes_.substr(i, 4);
            if (four == std::string_view("\xFE\xFF\x00\xE0", 4) ||
                four == std::string_view("\xFF\xFE\xE0\x00", 4))
                ++count;
        }
        return count;
    }

    // One element, item or delimiter; false when the walk ends (the end of
    // the bytes, or an encoding it cannot follow).
    bool Step() {
        while (!open_.empty() && open_.back().end == pos_) Close();
        if (Left() < 8) return false;
        const std::uint16_t group = U16(pos_);
        const std::uint16_t element = U16(pos_ + 2);
        if (group == 0xFFFE) return Delimiter(element, U32(pos_ + 4));
        return Element(group, element);
    }

    void Close() {
        if (open_.back().item) --depth_;
        open_.pop_back();
    }

    bool Delimiter(std::uint16_t element, std::uint32_t length) {
        pos_ += 8;
        const bool inSequence = !open_.empty() && !open_.back().item;
        const bool inUndefined = !open_.empty() && open_.back().end == kOpenEnd;
        if (element == 0xE000 && inSequence) {
            if (length != kUndefinedLength && length > Left()) return false;
            ++depth_;
            open_.push_back({true, length == kUndefinedLength ? kOpenEnd : pos_ + length,
                             open_.back().implicitLittle});
            return true;
        }
        if ((element == 0xE00D && !inSequence && inUndefined) ||
            (element == 0xE0DD && inSequence && inUndefined)) {
            Close();
            return true;
        }
        return false;
    }

    bool Element(std::uint16_t group, std::uint16_t element) {
        bool sequence = false;
        bool unknown = false;
        std::uint32_t length = 0;
        if (Implicit()) {
            length = U32(pos_ + 4);
            pos_ += 8;
            sequence = DcmTag(group, element).getEVR() == EVR_SQ;
        } else {
            const char first = bytes_[pos_ + 4];
            const char second = bytes_[pos_ + 5];
            sequence = first == 'S' && second == 'Q';
            unknown = first == 'U' && second == 'N';
            if (HasLongLength(first, second)) {
                if (Left() < 12) return false;
                length = U32(pos_ + 8);
                pos_ += 12;
            } else {
                length = U16(pos_ + 6);
                pos_ += 8;
            }
        }
        // DCMTK reads any element of undefined length as a sequence; the
        // items of a UN are in implicit VR little endian.
        if (length == kUndefinedLength) {
            open_.push_back({false, kOpenEnd, Implicit() || unknown});
            return true;
        }
        if (length > Left()) return false;
        if (sequence) {
            open_.push_back({false, pos_ + length, Implicit() && Little()});
            return true;
        }
        pos_ += length;
        return true;
    }

    std::string_view bytes_;
    int maxDepth_;
    bool implicit_ = false;
    bool big_ = false;
    std::size_t pos_ = 0;
    int depth_ = 0;
    std::vector<Open> open_;
};

}  // namespace

bool NestsWithin(std::string_view bytes, E_TransferSyntax xfer, int maxDepth) {
    return Walk(bytes, xfer, maxDepth).Within();
}

}  // namespace lumo::dicom::detail
