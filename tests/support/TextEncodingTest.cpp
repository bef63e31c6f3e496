#include "support/TextEncoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace lumo;

std::string AllBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

TEST(Utf8Validity, AcceptsWellFormedText) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ASCII"));
    EXPECT_TRUE(IsValidUtf8("Hôpital Saint-Éloi €"));
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));      // U+1F600
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));      // U+10FFFF
    EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));  // NUL is a character
}

TEST(Utf8Validity, RefusesMalformedText) {
    EXPECT_FALSE(IsValidUtf8("\xE9t\xE9"));         // Latin-1 "été"
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong NUL
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xC3"));              // cut short
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
    EXPECT_FALSE(IsValidUtf8("\x80"));              // lone continuation
    EXPECT_FALSE(IsValidUtf8("\xFF"));
}

TEST(Cp1252, DecodesTheSpecialRange) {
    EXPECT_EQ(Cp1252ToUtf8("\x80"), "€");
    EXPECT_EQ(Cp1252ToUtf8("\x9C"), "œ");
    EXPECT_EQ(Cp1252ToUtf8("\x92"), "’");
    EXPECT_EQ(Cp1252ToUtf8("caf\xE9"), "café");
    EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");  // undefined byte kept as its C1 control
}

TEST(Cp1252, EveryByteSurvivesARoundTrip) {
    const std::string bytes = AllBytes();
    const std::string utf8 = Cp1252ToUtf8(bytes);
    EXPECT_TRUE(IsValidUtf8(utf8));
    EXPECT_EQ(Utf8ToCp1252(utf8), bytes);
}

TEST(Cp1252, CharactersWithoutAFormBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1252("€ é 中 😀"), "\x80 \xE9 ? ?");
    EXPECT_EQ(Utf8ToCp1252("a\xFF"
                           "b"),
              "a?b");                          // malformed input
    EXPECT_EQ(Utf8ToCp1252("\xC2\x80"), "?");  // U+0080 has no Windows-1252 byte
}

TEST(Latin1, MapsBytesToTheFirst256CodePoints) {
    EXPECT_EQ(Latin1ToUtf8("\xC9lise"), "Élise");
    EXPECT_EQ(Latin1ToUtf8("\x80"), "\xC2\x80");
    const std::string bytes = AllBytes();
    EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(bytes)), bytes);
}

TEST(Latin1, CharactersBeyondLatin1BecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToLatin1("Müller €"), "M\xFCller ?");
    EXPECT_EQ(Utf8ToLatin1("\xE2\x82"), "??");  // cut short: each byte refused
}

TEST(FileText, KeepsUtf8AndReadsOtherBytesAsWindows1252) {
    bool wasUtf8 = false;
    EXPECT_EQ(DecodeFileText("DUPONT;Hélène", &wasUtf8), "DUPONT;Hélène");
    EXPECT_TRUE(wasUtf8);
    EXPECT_EQ(DecodeFileText("DUPONT;H\xE9l\xE8ne", &wasUtf8), "DUPONT;Hélène");
    EXPECT_FALSE(wasUtf8);
    EXPECT_EQ(DecodeFileText("ascii"), "ascii");
}

}  // namespace
