#include "support/Global_Utils.h"

#include "TestSupport.h"

namespace {

using namespace lumo;

TEST(ChooseStr, PicksByCondition) {
    EXPECT_EQ(ChooseStr(true, "yes", "no"), "yes");
    EXPECT_EQ(ChooseStr(false, "yes", "no"), "no");
}

TEST(DelimitedField, CutsAtEverySeparator) {
    const std::string text = "A;B;;D";
    EXPECT_EQ(GetDelimitedField(text, ';', 1), "A");
    EXPECT_EQ(GetDelimitedField(text, ';', 2), "B");
    EXPECT_EQ(GetDelimitedField(text, ';', 3), "");
    EXPECT_EQ(GetDelimitedField(text, ';', 4), "D");
    EXPECT_EQ(GetDelimitedField(text, ';', 5), "");
}

TEST(DelimitedField, KeepsBlanksAndQuotes) {
    EXPECT_EQ(GetDelimitedField(" DUPONT ;\"Jean\"", ';', 1), " DUPONT ");
    EXPECT_EQ(GetDelimitedField(" DUPONT ;\"Jean\"", ';', 2), "\"Jean\"");
}

TEST(DelimitedField, EdgeIndexes) {
    EXPECT_EQ(GetDelimitedField("", ';', 1), "");
    EXPECT_EQ(GetDelimitedField("A;B", ';', 0), "");
    EXPECT_EQ(GetDelimitedField("A;B", ';', -1), "");
    EXPECT_EQ(GetDelimitedField("AB", ';', 1), "AB");
    EXPECT_EQ(GetDelimitedField(";", ';', 1), "");
    EXPECT_EQ(GetDelimitedField(";x", ';', 2), "x");
}

TEST(TrimBlanks, RemovesBlanksAndControlCharactersAtBothEnds) {
    EXPECT_EQ(TrimBlanks(" \t x y \r\n"), "x y");
    EXPECT_EQ(TrimBlanks(std::string("\0a\0", 3)), "a");
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_EQ(TrimBlanks("été"), "été");
}

}  // namespace
