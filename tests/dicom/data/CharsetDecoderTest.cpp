// Received text in every character set of the standard, read into UTF-8.

#include "dicom/data/detail/CharsetDecoder.h"

#include <gtest/gtest.h>

#include <string>

namespace lumo::dicom::detail {
namespace {

constexpr VrCode kPN = MakeVr("PN");
constexpr VrCode kLO = MakeVr("LO");

TEST(CharsetDecoder, EveryKindOfSetDecodes) {
    const struct {
        const char* declared;
        VrCode vr;
        std::string bytes;
        std::string text;
    } cases[] = {
        // The examples of the standard's annexes on character sets.
        {"\\ISO 2022 IR 87", kPN,
         "Yamada^Tarou=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B=\x1b$B$d$^$@\x1b(B^\x1b$B$?$m$&\x1b(B",
         "Yamada^Tarou=山田^太郎=やまだ^たろう"},
        {"ISO 2022 IR 13\\ISO 2022 IR 87", kPN,
         "\xd4\xcf\xc0\xde^\xc0\xdb\xb3=\x1b$B;3ED\x1b(J^\x1b$BB@O:\x1b(J=\x1b$B$d$^$@\x1b(J^"
         "\x1b$B$?$m$&\x1b(J",
         "ﾔﾏﾀﾞ^ﾀﾛｳ=山田^太郎=やまだ^たろう"},
        {"\\ISO 2022 IR 159", kLO, "\x1b$(D\x22\x2f\x1b(B", "˘"},
        {"\\ISO 2022 IR 149", kPN,
         "Hong^Gildong=\x1b$)C\xfb\xf3^\x1b$)C\xd1\xce\xd4\xd7=\x1b$)C\xc8\xab^\x1b$)"
         "C\xb1\xe6\xb5\xbf",
         "Hong^Gildong=洪^吉洞=홍^길동"},
        {"\\ISO 2022 IR 58", kPN,
         "Zhang^XiaoDong=\x1b$)A\xd5\xc5^\x1b$)A\xd0\xa1\xb6\xab=", "Zhang^XiaoDong=张^小东="},
        {"GB18030", kPN, "Wang^XiaoDong=\xcd\xf5^\xd0\xa1\xb6\xab=", "Wang^XiaoDong=王^小东="},
        {"GBK", kPN, "\xcd\xf5^\xd0\xa1\xb6\xab", "王^小东"},
        {"ISO_IR 13", kPN, "\xd4\xcf\xc0\xde^\xc0\xdb\xb3", "ﾔﾏﾀﾞ^ﾀﾛｳ"},
        {"ISO_IR 144", kPN,
         "\xbb\xee\xda"
         "ce\xdc\xd1yp\xd3",
         "Люкceмбypг"},
        {"ISO_IR 126", kPN, "\xc4\xe9\xef\xed\xf5\xf3\xe9\xef\xf2", "Διονυσιος"},
        {"ISO_IR 166", kLO, "\xc2\xcf\xcc", "ยฯฬ"},
        {"ISO_IR 192", kPN, "Wang^XiaoDong=王^小东=", "Wang^XiaoDong=王^小东="},
        {"ISO 2022 IR 6\\ISO 2022 IR 100\\ISO 2022 IR 144", kLO,
         "\x1b-Am\xfc"
         "de\x1b-L\xbb\xee",
         "müdeЛю"},
    };
    for (const auto& c : cases) {
        const auto decoder = CharsetDecoder::For(c.declared);
        ASSERT_NE(decoder, nullptr) << c.declared;
        std::string text;
        EXPECT_TRUE(decoder->Decode(c.vr, c.bytes, text)) << c.declared;
        EXPECT_EQ(text, c.text) << c.declared;
    }
}

TEST(CharsetDecoder, WhatCannotBeDecodedIsMarked) {
    const struct {
        const char* declared;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"\\ISO 2022 IR 87", "A\x1b$ZB", "A\xEF\xBF\xBD$ZB"},   // an escape of no known set
        {"\\ISO 2022 IR 87", "\x1b$B;\x1b(B", "\xEF\xBF\xBD"},  // half a character
        {"ISO 2022 IR 6", "caf\xe9", "caf\xEF\xBF\xBD"},        // 8-bit bytes with no G1
        {"ISO_IR 192", "ok\xff\xfeok\xff", "ok\xEF\xBF\xBDok\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        const auto decoder = CharsetDecoder::For(c.declared);
        ASSERT_NE(decoder, nullptr) << c.declared;
        std::string text;
        EXPECT_FALSE(decoder->Decode(kLO, c.bytes, text)) << c.declared;
        EXPECT_EQ(text, c.text) << c.declared;
    }
    EXPECT_EQ(CharsetDecoder::For("ISO_IR 999"), nullptr);
    EXPECT_EQ(CharsetDecoder::For("ISO 2022 IR 87"), nullptr);  // not a first value
}

}  // namespace
}  // namespace lumo::dicom::detail
