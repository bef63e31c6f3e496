#include "dicom/data/detail/ReceivedDataSetReader.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/Variant.h"
#include "tests/dicom/WireBytes.h"

namespace lumo::dicom {
namespace {

using detail::ReadPlainDataSet;
using detail::ReadReceivedDataSet;
using detail::ReadWithDcmtk;
using testing::Dump;
using testing::WireBytes;

DicomDataSet ReadByDcmtk(const std::string& bytes) {
    DicomDataSet dataSet;
    EXPECT_TRUE(ReadWithDcmtk(bytes, EXS_LittleEndianExplicit, dataSet).good());
    return dataSet;
}

std::string Text(const DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element) {
    return VarToStr(dataSet.DataSetAttributes().AttributesFind(group, element).AttributeValue());
}

TEST(ReceivedDataSetReader, ReadsAPlainResponseAsDcmtkDoes) {
    WireBytes code;
    code.Element(0x0008, 0x0100, "SH", "CV1 ").Element(0x0008, 0x0104, "LO", "Scanner thorax");
    WireBytes emptyItem;
    WireBytes step;
    step.Element(0x0040, 0x0001, "AE", "STATION ").Element(0x0040, 0x0009, "SH", "SPS1");
    WireBytes bytes;
    bytes.Element(0x0008, 0x0000, "UL", std::string("\x10\x00\x00\x00", 4))
        .Element(0x0008, 0x0005, "CS", "ISO_IR 100")
        .Element(0x0008, 0x0020, "DA", "20260101")
        .Element(0x0008, 0x0050, "SH", "")
        .Element(0x0008, 0x0061, "CS", "CT\\MR ")
        .Element(0x0008, 0x0090, "PN", "M\xFCller^Zo\xE9")
        .Element(0x0008, 0x0119, "UC", "LONG CODE ")
        .Sequence(0x0008, 0x1032, {code, emptyItem}, true, false)
        .Element(0x0009, 0x0010, "LO", "ACME")
        .Element(0x0009, 0x1001, "LO", "private ")
        .Element(0x0010, 0x1020, "DS", "1.75")
        .Element(0x0010, 0x4000, "LT", "line one\r\nline two  ")
        .Element(0x0020, 0x000D, "UI", std::string("1.2.3.4.5\0", 10))
        .Element(0x0028, 0x0010, "US", std::string("\x00\x02\x01\x00", 4))
        .Element(0x0028, 0x0106, "SS", std::string("\xFE\xFF", 2))
        .Sequence(0x0040, 0x0100, {step}, false, true)
        .Sequence(0x0040, 0x0275, {}, false, false);

    const std::optional<DicomDataSet> plain = ReadPlainDataSet(bytes.Bytes());
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(Dump(*plain), Dump(ReadByDcmtk(bytes.Bytes())));
    // What the listing reads: padding gone, Latin-1 as UTF-8, numbers typed.
    EXPECT_EQ(Text(*plain, 0x0008, 0x0090), "Müller^Zoé");
    EXPECT_EQ(Text(*plain, 0x0020, 0x000D), "1.2.3.4.5");
    EXPECT_EQ(Text(*plain, 0x0008, 0x0061), "CT\\MR");
    EXPECT_EQ(Text(*plain, 0x0028, 0x0010), "512\\1");
    EXPECT_EQ(Text(*plain, 0x0028, 0x0106), "-2");
    EXPECT_EQ(Text(*plain, 0x0008, 0x0050), "");
}

TEST(ReceivedDataSetReader, ConvertedTextDeclaresItselfUtf8) {
    WireBytes bytes;
    bytes.Element(0x0008, 0x0005, "CS", "ISO_IR 144")
        .Element(0x0010, 0x0010, "PN", "\xB8\xD2\xD0\xDD\xDE\xD2  ");  // Иванов
    const std::optional<DicomDataSet> plain = ReadPlainDataSet(bytes.Bytes());
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(Dump(*plain), Dump(ReadByDcmtk(bytes.Bytes())));
    EXPECT_EQ(Text(*plain, 0x0008, 0x0005), "ISO_IR 192");
    EXPECT_EQ(Text(*plain, 0x0010, 0x0010), "Иванов");
}

// Whatever the plain reading leaves alone, DCMTK reads: binary values, odd
// layouts, padding it would trim inside a value, and broken bytes.
TEST(ReceivedDataSetReader, LeavesEverythingElseToDcmtk) {
    const std::string ok = WireBytes().Element(0x0010, 0x0020, "LO", "PID1").Bytes();
    WireBytes deep;
    deep.Element(0x0008, 0x0100, "SH", "CV");
    for (int level = 0; level < 70; ++level) {
        WireBytes outer;
        outer.Sequence(0x0040, 0x0100, {deep}, level % 2 == 0, level % 3 == 0);
        deep = outer;
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"binary value", WireBytes().Element(0x0009, 0x1002, "OB", "\x01\x02").Bytes()},
        {"float value", WireBytes().Element(0x0018, 0x1060, "FL", "abcd").Bytes()},
        {"out of order", WireBytes()
                             .Element(0x0010, 0x0020, "LO", "PID1")
                             .Element(0x0010, 0x0010, "PN", "A^B ")
                             .Bytes()},
        {"same tag twice", ok + ok},
        {"odd length", WireBytes().Element(0x0010, 0x0020, "LO", "PID").Bytes()},
        {"leading blank", WireBytes().Element(0x0010, 0x0020, "LO", " PID").Bytes()},
        {"blank before a backslash", WireBytes().Element(0x0008, 0x0061, "CS", "CT \\MR").Bytes()},
        {"NUL in a name",
         WireBytes().Element(0x0010, 0x0010, "PN", std::string("AB\0\0", 4)).Bytes()},
        {"creator not LO", WireBytes().Element(0x0009, 0x0010, "SH", "ACME").Bytes()},
        {"meta group", WireBytes().Element(0x0002, 0x0010, "UI", "1.2\0").Bytes()},
        {"unknown VR", WireBytes().Element(0x0010, 0x0020, "ZZ", "PID1").Bytes()},
        {"length past the end", ok.substr(0, ok.size() - 2)},
        {"trailing bytes", ok + "\x10"},
        {"undefined text length",
         WireBytes().Header(0x0010, 0x0020, "UT", WireBytes::kUndefined).Raw("PID1").Bytes()},
        {"sequence before the character set",
         WireBytes().Sequence(0x0008, 0x0001, {}, false, false).Bytes()},
        {"non-ASCII before the character set", WireBytes()
                                                   .Element(0x0008, 0x0001, "SH", "\xE9t")
                                                   .Element(0x0008, 0x0005, "CS", "ISO_IR 100")
                                                   .Bytes()},
        {"item without its end", WireBytes()
                                     .Header(0x0040, 0x0100, "SQ", WireBytes::kUndefined)
                                     .Tag(0xFFFE, 0xE000)
                                     .U32(WireBytes::kUndefined)
                                     .Raw(ok)
                                     .Bytes()},
        {"item tag at the top", WireBytes().Tag(0xFFFE, 0xE000).U32(0).Bytes()},
        {"nested too deeply", deep.Bytes()},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(ReadPlainDataSet(bytes).has_value());
        // DCMTK takes it from there: a data set or a failed reading, never a
        // crash (the nesting too deep is refused by the conversion).
        DicomDataSet dataSet;
        try {
            (void)ReadReceivedDataSet(bytes, EXS_LittleEndianExplicit, dataSet);
        } catch (const std::exception&) {
        }
    }
    // Another transfer syntax is read by DCMTK.
    const std::string implicitBytes = WireBytes().Tag(0x0010, 0x0020).U32(4).Raw("PID1").Bytes();
    DicomDataSet implicit;
    ASSERT_TRUE(ReadReceivedDataSet(implicitBytes, EXS_LittleEndianImplicit, implicit).good());
    EXPECT_EQ(Text(implicit, 0x0010, 0x0020), "PID1");
}

// Random data sets as nodes write them, good and bad: wherever the plain
// reading takes one, it reads what DCMTK reads.
class RandomDataSets {
  public:
    explicit RandomDataSets(unsigned seed) : random_(seed) {}

    // Half of them clean (padded as the standard says), half as careless
    // nodes write them.
    std::string Next() {
        clean_ = Chance(2);
        return Make(0).Bytes();
    }

  private:
    struct Pooled {
        std::uint16_t group, element;
        const char* vr;
    };

    WireBytes Make(int depth) {
        static const Pooled pool[] = {
            {0x0008, 0x0000, "UL"}, {0x0008, 0x0005, "CS"}, {0x0008, 0x0020, "DA"},
            {0x0008, 0x002A, "DT"}, {0x0008, 0x0030, "TM"}, {0x0008, 0x0050, "SH"},
            {0x0008, 0x0061, "CS"}, {0x0008, 0x0080, "LO"}, {0x0008, 0x0081, "ST"},
            {0x0008, 0x0090, "PN"}, {0x0008, 0x0119, "UC"}, {0x0008, 0x0120, "UR"},
            {0x0008, 0x1032, "SQ"}, {0x0009, 0x0010, "LO"}, {0x0009, 0x1001, "LO"},
            {0x0010, 0x0010, "PN"}, {0x0010, 0x0020, "LO"}, {0x0010, 0x1010, "AS"},
            {0x0010, 0x1020, "DS"}, {0x0010, 0x4000, "LT"}, {0x0018, 0x6020, "SL"},
            {0x0020, 0x000D, "UI"}, {0x0020, 0x0013, "IS"}, {0x0028, 0x0010, "US"},
            {0x0028, 0x0106, "SS"}, {0x0040, 0x0001, "AE"}, {0x0040, 0x0100, "SQ"},
            {0x0040, 0xA160, "UT"},
        };
        static const char* const charsets[] = {"ISO_IR 100",        "ISO_IR 192", "ISO_IR 144",
                                               "\\ISO 2022 IR 100", "ISO_IR 6",   "BOGUS"};
        WireBytes out;
        for (const Pooled& entry : pool) {
            if (Chance(2)) continue;
            const std::string vr = entry.vr;
            if (vr == "SQ") {
                if (depth >= 2) continue;
                std::vector<WireBytes> items(static_cast<std::size_t>(Pick(3)));
                for (WireBytes& item : items) item = Make(depth + 1);
                const bool undefinedSequence = Chance(2);
                out.Sequence(entry.group, entry.element, items, undefinedSequence, Chance(2));
                continue;
            }
            std::string value;
            if (vr == "US" || vr == "SS") {
                value = Bytes(2 * Pick(3));
            } else if (vr == "UL" || vr == "SL") {
                value = Bytes(4 * Pick(3));
            } else if (entry.element == 0x0005 && entry.group == 0x0008) {
                value = charsets[Pick(5)];
            } else {
                value = Words(vr == "UI");
            }
            // Padding as nodes send it, right or wrong.
            const char padding = vr == "UI" ? '\0' : ' ';
            const char wrongPadding = vr == "UI" ? ' ' : '\0';
            if (value.size() % 2 != 0 && (clean_ || !Chance(10))) {
                value += !clean_ && Chance(8) ? wrongPadding : padding;
            }
            if (!clean_ && Chance(12)) value = " " + value + " ";
            out.Element(entry.group, entry.element, vr, value);
        }
        return out;
    }

    std::string Words(bool uid) {
        // Clean texts take the first ten letters, careless ones all of them.
        static const char letters[] = {'A',    'b',    '^',  '=',  '-', '\\', '\xE9',
                                       '\xFC', '\xB8', '\r', '\n', ' ', '\0'};
        static const char uidLetters[] = {'1', '2', '.', '0', '9', ' ', '\r', 'A'};
        std::string text;
        const int length = Pick(12);
        for (int i = 0; i < length; ++i) {
            if (uid) {
                text += uidLetters[clean_ ? Pick(4) : Pick(7)];
            } else {
                // Mostly plain letters; the others now and then.
                text += letters[Chance(3) ? Pick(clean_ ? 9 : 12) : Pick(1)];
            }
        }
        return text;
    }

    std::string Bytes(int count) {
        std::string bytes;
        for (int i = 0; i < count; ++i) bytes += static_cast<char>(Pick(255));
        return bytes;
    }

    int Pick(int highest) { return std::uniform_int_distribution<int>(0, highest)(random_); }
    bool Chance(int oneIn) { return Pick(oneIn - 1) == 0; }

    std::mt19937 random_;
    bool clean_ = true;
};

TEST(ReceivedDataSetReader, AgreesWithDcmtkOnRandomDataSets) {
    RandomDataSets random(4410);
    int plainCount = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::string bytes = random.Next();
        const std::optional<DicomDataSet> plain = ReadPlainDataSet(bytes);
        if (!plain) continue;
        ++plainCount;
        const std::string expected = Dump(ReadByDcmtk(bytes));
        ASSERT_EQ(Dump(*plain), expected) << "data set #" << i;
    }
    // Enough of them are plain for the comparison to mean something.
    EXPECT_GT(plainCount, 1000);
}

}  // namespace
}  // namespace lumo::dicom

namespace lumo::dicom {
namespace {

// A collection that keeps its responses on disk beyond the first: each
// read back as it came (plain bytes, bytes DCMTK read, bytes kept for their
// undecodable text), in order; one not held as received bytes stays in
// memory, in its place.
TEST(DataSetSpool, ReadsBackWhatWasAppendedInOrder) {
    const auto received = [](const std::string& bytes, E_TransferSyntax xfer) {
        DicomDataSet dataSet;
        EXPECT_TRUE(detail::ReadReceivedDataSet(bytes, xfer, dataSet).good());
        return dataSet;
    };
    DicomDataSet built;
    built.DataSetAttributes().AttributesAdd(0x0010, 0x0020, Variant("BUILT"));
    const std::vector<DicomDataSet> appended = {
        received(testing::WireBytes().Element(0x0010, 0x0020, "LO", "PID1").Bytes(),
                 EXS_LittleEndianExplicit),
        received(testing::WireBytes().Element(0x0010, 0x0020, "LO", "PID2").Bytes(),
                 EXS_LittleEndianExplicit),
        received(testing::WireBytes().Tag(0x0010, 0x0020).U32(4).Raw("PID3").Bytes(),
                 EXS_LittleEndianImplicit),
        received(testing::WireBytes()
                     .Element(0x0008, 0x0005, "CS", "ISO_IR 192")
                     .Element(0x0010, 0x0010, "PN", "\xFF\xFE")
                     .Bytes(),
                 EXS_LittleEndianExplicit),
        built,
    };
    DicomDataSets kept;
    kept.DataSetsKeepOnDiskBeyond(1);
    for (const DicomDataSet& dataSet : appended) kept.DataSetsAppend(dataSet);
    ASSERT_EQ(kept.DataSetsCount(), 5);
    for (int i = 1; i <= 5; ++i) {
        SCOPED_TRACE(i);
        const DicomDataSet back = kept.DataSetsItem(i);
        EXPECT_EQ(testing::Dump(back), testing::Dump(appended[i - 1]));
        EXPECT_EQ(back.DataSetUndecodableCharset(), appended[i - 1].DataSetUndecodableCharset());
    }
    EXPECT_TRUE(kept.DataSetsItem(1).SameAs(appended[0]));
    EXPECT_TRUE(kept.DataSetsItem(5).SameAs(built));
    EXPECT_FALSE(kept.DataSetsItem(2).SameAs(appended[1]));
}

}  // namespace
}  // namespace lumo::dicom
