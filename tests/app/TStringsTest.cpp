// The compact list of lines at its edges: what goes in comes out, line for
// line, whichever way it is read.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/TStrings.h"

namespace lumo::app {
namespace {

using Lines = std::vector<std::string>;

// Every way the list is read gives back `expected`.
void ExpectReadsBack(const TStrings& list, const Lines& expected) {
    ASSERT_EQ(list.Count(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(list[i], expected[i]) << i;
    EXPECT_EQ(list.Copy(), expected);
    std::string text;
    list.ForEachText([&](std::string_view piece) { text.append(piece); });
    std::string joined;
    for (const std::string& line : expected) joined.append(line).append("\n");
    EXPECT_EQ(text, joined);
}

TEST(Strings, EveryLineReadsBackAsItWentIn) {
    const std::string big(3 * 1024 * 1024 + 7, 'x');  // beyond any block
    const struct {
        const char* what;
        Lines lines;
    } cases[] = {
        {"nothing", {}},
        {"empty lines", {"", "", "a", ""}},
        {"non-ASCII text and a NUL",
         {"Référant: LEFÈVRE^Hélène", "患者 名前", std::string("a\0b", 3)}},
        {"a line larger than a block, between short ones", {"before", big, "after"}},
        {"two large lines in a row", {big, big + "y"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TStrings list;
        for (const std::string& line : c.lines) list.Add(line);
        ExpectReadsBack(list, c.lines);
    }
}

TEST(Strings, LineBuiltInPiecesAppearsOnlyWhenEnded) {
    TStrings list;
    list.Add("first");
    const std::string piece(5000, 'p');  // the line outgrows the first block
    list.Append("Label: ");
    list.Append(piece);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Copy(), Lines{"first"});
    list.Append("");
    list.EndLine();
    list.EndLine();  // an empty line
    ExpectReadsBack(list, {"first", "Label: " + piece, ""});
}

TEST(Strings, MillionLinesInOrder) {
    constexpr std::size_t kCount = 1'000'000;
    TStrings list;
    for (std::size_t i = 0; i < kCount; ++i) list.Add("line " + std::to_string(i));
    ASSERT_EQ(list.Count(), kCount);
    std::size_t i = 0;
    for (const std::string_view line : list) {
        if (line != "line " + std::to_string(i)) FAIL() << "line " << i << " reads " << line;
        ++i;
    }
    EXPECT_EQ(i, kCount);
    for (std::size_t at : {std::size_t{0}, kCount / 3, kCount - 1})
        EXPECT_EQ(list[at], "line " + std::to_string(at));
}

TEST(Strings, DeleteAndClearKeepTheRestReadable) {
    TStrings list;
    list.Assign({"a", "b", "c", "d"});
    list.Delete(0);
    list.Delete(1);
    list.Delete(1);
    ExpectReadsBack(list, {"b"});
    list.Clear();
    ExpectReadsBack(list, {});
    EXPECT_TRUE(list.begin() == list.end());
    list.Add("again");
    ExpectReadsBack(list, {"again"});
    TStrings taker;
    taker.Assign(std::move(list));
    ExpectReadsBack(taker, {"again"});
    ExpectReadsBack(list, {});
}

}  // namespace
}  // namespace lumo::app
