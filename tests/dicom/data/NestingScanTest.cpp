// The walk that bounds how deep a received data set nests before DCMTK
// reads it.

#include "dicom/data/detail/NestingScan.h"

#include <gtest/gtest.h>

#include <string>

namespace lumo::dicom::detail {
namespace {

std::string Le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string Le32(unsigned v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Tag(unsigned group, unsigned element) { return Le16(group) + Le16(element); }

const std::string kItem = Tag(0xFFFE, 0xE000) + Le32(0xFFFFFFFF);
const std::string kItemEnd = Tag(0xFFFE, 0xE00D) + Le32(0);
const std::string kSequenceEnd = Tag(0xFFFE, 0xE0DD) + Le32(0);
const std::string kName = Tag(0x0010, 0x0010) + "PN" + Le16(4) + "A^B ";

// `levels` sequences of one item each, one inside the other, with undefined
// lengths: explicit VR (Scheduled Procedure Step Sequence, or UN whose items
// are then implicit) or implicit VR.
std::string Nested(int levels, bool implicit, bool unknown = false) {
    std::string open;
    std::string close;
    for (int i = 0; i < levels; ++i) {
        const bool inner = implicit || (unknown && i > 0);
        open += Tag(0x0040, 0x0100) +
                (inner ? Le32(0xFFFFFFFF)
                       : std::string(unknown ? "UN" : "SQ") + Le16(0) + Le32(0xFFFFFFFF)) +
                kItem;
        close = kItemEnd + kSequenceEnd + close;
    }
    const std::string name = implicit || unknown ? Tag(0x0010, 0x0010) + Le32(4) + "A^B " : kName;
    return open + name + close;
}

// The same depth with defined lengths, built from the inside out.
std::string NestedDefined(int levels) {
    std::string inside = kName;
    for (int i = 0; i < levels; ++i) {
        const std::string item =
            Tag(0xFFFE, 0xE000) + Le32(static_cast<unsigned>(inside.size())) + inside;
        inside =
            Tag(0x0040, 0x0100) + "SQ" + Le16(0) + Le32(static_cast<unsigned>(item.size())) + item;
    }
    return inside;
}

TEST(NestingScan, BoundsTheDepthWhateverTheEncoding) {
    const struct {
        const char* what;
        std::string bytes;
        E_TransferSyntax xfer;
        bool within;
    } cases[] = {
        {"flat", kName, EXS_LittleEndianExplicit, true},
        {"64 levels, the bound", Nested(64, false), EXS_LittleEndianExplicit, true},
        {"65 levels", Nested(65, false), EXS_LittleEndianExplicit, false},
        {"10,000 levels", Nested(10'000, false), EXS_LittleEndianExplicit, false},
        {"implicit VR", Nested(65, true), EXS_LittleEndianImplicit, false},
        {"implicit VR within", Nested(30, true), EXS_LittleEndianImplicit, true},
        {"UN of undefined length", Nested(65, false, true), EXS_LittleEndianExplicit, false},
        {"defined lengths", NestedDefined(65), EXS_LittleEndianExplicit, false},
        {"defined lengths within", NestedDefined(64), EXS_LittleEndianExplicit, true},
        // 20 bytes a level: cut after 75 levels.
        {"cut short", Nested(100, false).substr(0, 1500), EXS_LittleEndianExplicit, false},
        // 20 levels open, then bytes the walk cannot follow, then 60 more.
        {"broken in the middle", Nested(20, false).substr(0, 400) + "\x01\x02" + Nested(60, false),
         EXS_LittleEndianExplicit, false},
        {"broken, then shallow", Nested(20, false).substr(0, 400) + "\x01\x02" + Nested(40, false),
         EXS_LittleEndianExplicit, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NestsWithin(c.bytes, c.xfer, 64), c.within) << c.what;
    }
}

}  // namespace
}  // namespace lumo::dicom::detail
