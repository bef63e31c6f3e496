// The batch's rules on their own (records, labels, the lines it writes) and
// the text files it and the result export read and write.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/BatchType1.h"
#include "app/LinesFile.h"
#include "support/Exception.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app {
namespace {

using testing::TempDir;
using Lines = std::vector<std::string>;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The class name and message of the error `action` raises.
template <typename Action>
std::pair<std::string, std::string> ErrorOf(Action action) {
    try {
        action();
    } catch (const Exception& e) {
        return {e.ClassName(), e.Message()};
    }
    return {"no error", ""};
}

TEST(BatchRecords, FieldsAreCutAtSemicolonsAndKeptAsWritten) {
    const BatchRecord record = ParseBatchRecord(" DUPONT ;Jean;19600101;A123;42 ");
    EXPECT_EQ(record.nom, " DUPONT ");
    EXPECT_EQ(record.prenom, "Jean");
    EXPECT_EQ(record.naissance, "19600101");
    EXPECT_EQ(record.accession, "A123");
    EXPECT_EQ(record.idZunda, "42 ");
}

TEST(BatchRecords, MissingFieldsAreEmpty) {
    const BatchRecord shortRecord = ParseBatchRecord("DUPONT;JEAN");
    EXPECT_EQ(shortRecord.nom, "DUPONT");
    EXPECT_EQ(shortRecord.naissance, "");
    EXPECT_EQ(shortRecord.accession, "");
    EXPECT_EQ(shortRecord.idZunda, "");
    const BatchRecord empty = ParseBatchRecord("");
    EXPECT_EQ(empty.nom + empty.prenom + empty.naissance + empty.accession + empty.idZunda, "");
    // Extra fields are ignored, the fifth stops at its own separator.
    EXPECT_EQ(ParseBatchRecord("a;b;c;d;e;f").idZunda, "e");
}

TEST(BatchResultFile, ExtensionIsReplaced) {
    EXPECT_EQ(BatchResultFileName("/data/LUMO4410_1.txt"), "/data/LUMO4410_1_RESULT.txt");
    EXPECT_EQ(BatchResultFileName("/data/list.v2.csv"), "/data/list.v2_RESULT.txt");
    EXPECT_EQ(BatchResultFileName("relative.TXT"), "relative_RESULT.txt");
}

TEST(BatchResultFile, NameWithoutExtensionGetsTheSuffix) {
    EXPECT_EQ(BatchResultFileName("/data/records"), "/data/records_RESULT.txt");
    // A dot in a folder's name is not the file's extension.
    EXPECT_EQ(BatchResultFileName("/data/v1.2/records"), "/data/v1.2/records_RESULT.txt");
}

TEST(BatchLabels, MatchAtTheStartByExactLengthAndTrim) {
    const Lines listed = {"Patient: DUPONT^JEAN", "SeriesUID : 9.9.9", "StudyUID: 1.2.3  ",
                          " StudyUID: 7.7.7", "studyuid: 8.8.8"};
    EXPECT_EQ(LabelValue(listed, "StudyUID:"), "1.2.3");
    EXPECT_EQ(LabelValue(listed, "Visite:"), "");
    // Only the label's own length is compared: a shorter label matches more.
    EXPECT_EQ(LabelValue(listed, "S"), "tudyUID: 1.2.3");
}

TEST(BatchLabels, LastMatchingLineWins) {
    const Lines listed = {"Visite: A1", "---------------------", "Visite: A2",
                          "---------------------"};
    EXPECT_EQ(LabelValue(listed, "Visite:"), "A2");
}

TEST(BatchLabels, EmptyLabelTakesTheLastLine) {
    EXPECT_EQ(LabelValue({"first", "  last line \t"}, ""), "last line");
    EXPECT_EQ(LabelValue(Lines{}, ""), "");
}

TEST(BatchLabels, ValueIsAtMostHundredCharactersThenTrimmed) {
    const std::string longValue = " " + std::string(98, 'x') + "  tail";
    // The hundred characters after the label, then the blanks are removed.
    EXPECT_EQ(LabelValue({"L:" + longValue}, "L:"), std::string(98, 'x'));
    // Characters, not bytes: an accented letter is never cut in two.
    const std::string accented = std::string(99, 'a') + "éz";
    EXPECT_EQ(LabelValue({"L:" + accented}, "L:"), std::string(99, 'a') + "é");
}

TEST(BatchLines, StatementOfTheWorkedExample) {
    const BatchRecord record = ParseBatchRecord("DUPONT;JEAN;19600101;A123;42");
    EXPECT_EQ(BatchStatementLine(
                  "Update examen e set e.SIUID = '%1', e.idexterne = '%2' where e.id_examen",
                  record, "1.2.3", "A123"),
              "Update examen e set e.SIUID = '1.2.3', e.idexterne = 'A123' where e.id_examen = "
              "42; -- A123 - DUPONT - 19600101");
    EXPECT_EQ(BatchNoResultLine(record),
              "--Aucun résultat pour ID_ZUNDA: 42; -- A123 - DUPONT - 19600101");
}

TEST(BatchLines, PlaceholdersAreReplacedEverywhereFirstThenSecond) {
    const BatchRecord record = ParseBatchRecord("N%1;P;%2;A%1;7");
    EXPECT_EQ(BatchStatementLine("set x='%1%2'", record, "<%2>", "B"),
              "set x='<B>B' = 7; -- A<B> - N<B> - B");
}

TEST(BatchLines, ErrorLineIsOneComment) {
    const BatchRecord record = ParseBatchRecord("DUPONT;JEAN;19600101;A123;42");
    EXPECT_EQ(BatchErrorLine(record, "EDicomNetworkError: refused\r\nDROP TABLE examen;"),
              "--Erreur pour ID_ZUNDA: 42; -- A123 - DUPONT - 19600101: EDicomNetworkError: "
              "refused<0D><0A>DROP TABLE examen;");
    // The record's fields as well: a comment line never holds a control character.
    const BatchRecord odd = ParseBatchRecord("N\x1B;P;D\xC2\x85;A\x0B;4\x7F");
    EXPECT_EQ(BatchSkippedLine(odd, "x\ty"),
              "--Ignoré pour ID_ZUNDA: 4<7F>; -- A<0B> - N<1B> - D<85>: x\ty");
    EXPECT_EQ(BatchNoResultLine(odd),
              "--Aucun résultat pour ID_ZUNDA: 4<7F>; -- A<0B> - N<1B> - D<85>");
}

TEST(BatchLines, OnlyWholeNumbersAreIdentifiers) {
    for (const char* id : {"0", "42", "-7", "007", "123456789012345678901234567890"}) {
        EXPECT_TRUE(IsWholeNumber(id)) << id;
    }
    for (const char* id : {"", "-", "+5", "--5", " 42", "42 ", "4 2", "1.5", "1e3", "0x1F",
                           "1 OR 1=1", "1;DROP", "\xd9\xa1"}) {
        EXPECT_FALSE(IsWholeNumber(id)) << id;
    }
}

TEST(BatchLines, ValuesWithABackslashOrAControlCharacterAreRefused) {
    struct Case {
        std::string value;
        std::optional<std::string> refusal;
    };
    const std::string backslash = "elle contient une barre oblique inverse";
    const std::string control = "elle contient un caractère de contrôle";
    const std::vector<Case> cases = {
        {"1.2.840.113619.2.55", std::nullopt},
        {"O'BRIEN^JOHN", std::nullopt},
        {"Référant\tDR", std::nullopt},
        {"", std::nullopt},
        {"A\\'; DROP TABLE examen; --", backslash},
        {"\\", backslash},
        {"1.2\x1B[31m.3", control},
        {"a\nb", control},
        {"a\x7F", control},
        {"a\xC2\x9B", control},
    };
    for (const Case& c : cases) EXPECT_EQ(BatchValueRefusal(c.value), c.refusal) << c.value;
}

TEST(BatchLines, RecordsThatAreNotQueried) {
    const auto line = [](const std::string& record) {
        return BatchUnqueriedLine(ParseBatchRecord(record));
    };
    EXPECT_EQ(line("N;P;D;A;42"), std::nullopt);
    EXPECT_EQ(line(";P;D;A;42"), std::nullopt);
    EXPECT_EQ(line("N;P;D;;42"), std::nullopt);
    EXPECT_EQ(line("N*;P;D;;42"), std::nullopt);
    EXPECT_EQ(line(" \t;P;D;?*;42"),
              "--Ignoré pour ID_ZUNDA: 42; -- ?* -  \t - D: ni accession ni nom, aucune requête "
              "envoyée");
    EXPECT_EQ(line("N;P;D;A;4 2"),
              "--Erreur pour ID_ZUNDA: 4 2; -- A - N - D: ID_ZUNDA n'est pas un nombre entier, "
              "aucune requête envoyée");
}

TEST(BatchLines, InterruptionLine) {
    EXPECT_EQ(BatchInterruptedLine(2, 40), "-- Interrompu après 2 / 40 enregistrements");
}

TEST(BatchLines, SqlValuesHaveTheirQuotesDoubled) {
    EXPECT_EQ(SqlEscaped("O'Brien"), "O''Brien");
    EXPECT_EQ(SqlEscaped("x'; DROP TABLE examen; --"), "x''; DROP TABLE examen; --");
    EXPECT_EQ(SqlEscaped("''"), "''''");
    EXPECT_EQ(SqlEscaped("1.2.3"), "1.2.3");
}

TEST(LinesFile, SplitsAtEveryKindOfLineEnd) {
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n"), (Lines{"a"}));
    EXPECT_EQ(SplitLines(""), (Lines{}));
    EXPECT_EQ(SplitLines("\n"), (Lines{""}));
    EXPECT_EQ(SplitLines("a\n\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitLines("a\r\r\nb"), (Lines{"a", "", "b"}));
}

TEST(LinesFile, SavesWithCrLfAndLoadsBack) {
    TempDir dir;
    const std::string path = dir.Path() + "/lines.txt";
    const Lines lines = {"Référant DR^WHO", "", "---------------------"};
    SaveLinesToFile(path, lines);
    EXPECT_EQ(ReadBytes(path), "Référant DR^WHO\r\n\r\n---------------------\r\n");
    const LinesOfFile loaded = LoadLinesFromFile(path);
    EXPECT_EQ(loaded.lines, lines);
    EXPECT_TRUE(loaded.encoding.utf8);
    EXPECT_FALSE(loaded.encoding.byteOrderMark);
}

TEST(LinesFile, EmptyListGivesEmptyFileAndOverwrites) {
    TempDir dir;
    const std::string path = dir.Path() + "/lines.txt";
    WriteBytes(path, "old content that is longer\r\n");
    SaveLinesToFile(path, Lines{});
    EXPECT_EQ(ReadBytes(path), "");
}

TEST(LinesFile, Windows1252IsReadAndWrittenBack) {
    TempDir dir;
    const std::string path = dir.Path() + "/cp.txt";
    WriteBytes(path,
               "H\xc9LO\xcf"
               "SE;Ren\xe9\r\n");
    const LinesOfFile loaded = LoadLinesFromFile(path);
    EXPECT_FALSE(loaded.encoding.utf8);
    EXPECT_EQ(loaded.lines, (Lines{"HÉLOÏSE;René"}));
    SaveLinesToFile(path, {"HÉLOÏSE € ✓"}, loaded.encoding);
    // The euro sign has a Windows-1252 form; the check mark has none.
    EXPECT_EQ(ReadBytes(path), "H\xc9LO\xcfSE \x80 ?\r\n");
}

TEST(LinesFile, ByteOrderMarkIsDroppedAndKept) {
    TempDir dir;
    const std::string path = dir.Path() + "/bom.txt";
    WriteBytes(path,
               "\xEF\xBB\xBF"
               "CONCATENATION\r\nx\r\n");
    const LinesOfFile loaded = LoadLinesFromFile(path);
    EXPECT_EQ(loaded.lines, (Lines{"CONCATENATION", "x"}));
    EXPECT_TRUE(loaded.encoding.byteOrderMark);
    SaveLinesToFile(path, {"y"}, loaded.encoding);
    EXPECT_EQ(ReadBytes(path), "\xEF\xBB\xBFy\r\n");
}

// UTF-16 text, in either byte order, as its byte-order mark says.
std::string Utf16(const std::vector<std::uint16_t>& units, bool bigEndian) {
    std::string bytes;
    for (const std::uint16_t unit : units) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

TEST(LinesFile, Utf16IsReadInBothByteOrdersAndWrittenBackAsUtf8) {
    // "Hé;𐍈" CR LF "Z" LF: an accent, a character outside the first plane
    // (a surrogate pair), both line ends.
    const std::vector<std::uint16_t> text = {0xFEFF, 'H',  0x00E9, ';', 0xD800,
                                             0xDF48, '\r', '\n',   'Z', '\n'};
    struct Case {
        const char* what;
        std::string bytes;
        std::string error;  // empty: read
    };
    const std::vector<Case> cases = {
        {"little-endian", Utf16(text, false), ""},
        {"big-endian", Utf16(text, true), ""},
        {"only the mark, little-endian", "\xFF\xFE", ""},
        {"only the mark, big-endian", "\xFE\xFF", ""},
        {"odd number of bytes", Utf16(text, false) + "x",
         "Malformed UTF-16 text (an odd number of bytes)"},
        {"high surrogate alone", Utf16({0xFEFF, 'a', 0xD800, 'b'}, true),
         "Malformed UTF-16 text (an unpaired surrogate at byte 4)"},
        {"high surrogate at the end", Utf16({0xFEFF, 'a', 0xDBFF}, false),
         "Malformed UTF-16 text (an unpaired surrogate at byte 4)"},
        {"low surrogate alone", Utf16({0xFEFF, 0xDC00, 'b'}, false),
         "Malformed UTF-16 text (an unpaired surrogate at byte 2)"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.Path() + "/utf16.txt";
        WriteBytes(path, c.bytes);
        if (!c.error.empty()) {
            EXPECT_EQ(ErrorOf([&] { LoadLinesFromFile(path); }),
                      (std::pair<std::string, std::string>{
                          "EFOpenError", "Cannot open file \"" + path + "\". " + c.error}));
            continue;
        }
        const LinesOfFile loaded = LoadLinesFromFile(path);
        const bool empty = c.bytes.size() == 2;
        EXPECT_EQ(loaded.lines, empty ? Lines{} : (Lines{"Hé;𐍈", "Z"}));
        EXPECT_TRUE(loaded.encoding.utf8);
        EXPECT_TRUE(loaded.encoding.byteOrderMark);
        SaveLinesToFile(path, loaded.lines, loaded.encoding);
        EXPECT_EQ(ReadBytes(path), empty ? "\xEF\xBB\xBF" : "\xEF\xBB\xBFHé;𐍈\r\nZ\r\n");
    }
}

TEST(LinesFile, ReadsWithinItsBound) {
    TempDir dir;
    const std::string name = dir.Path() + "/small.txt";
    WriteBytes(name, "0123456789\r\n");
    EXPECT_EQ(LoadLinesFromFile(name, 12).lines, (Lines{"0123456789"}));
    EXPECT_EQ(
        ErrorOf([&] { LoadLinesFromFile(name, 11); }),
        (std::pair<std::string, std::string>{
            "EFOpenError", "Cannot open file \"" + name + "\". File too large (over 11 bytes)"}));
}

TEST(LinesFile, SaveKeepsTheModeOfTheFileItReplacesAndTheLinkToIt) {
    TempDir dir;
    const std::string real = dir.Path() + "/real.txt";
    const std::string link = dir.Path() + "/link.txt";
    WriteBytes(real, "old\r\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    std::filesystem::create_symlink(real, link);
    SaveLinesToFile(link, {"new"});
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(real), "new\r\n");
    struct stat status {};
    ASSERT_EQ(::stat(real.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(testing::FileNames(dir.Path()), (Lines{"link.txt", "real.txt"}));
}

TEST(LinesFile, MissingFileCannotBeOpened) {
    TempDir dir;
    const std::string path = dir.Path() + "/absent.txt";
    EXPECT_EQ(ErrorOf([&] { LoadLinesFromFile(path); }),
              (std::pair<std::string, std::string>{
                  "EFOpenError", "Cannot open file \"" + path + "\". No such file or directory"}));
    EXPECT_EQ(ErrorOf([&] { LoadLinesFromFile(dir.Path()); }),
              (std::pair<std::string, std::string>{
                  "EFOpenError", "Cannot open file \"" + dir.Path() + "\". Is a directory"}));
}

TEST(LinesFile, FileInMissingFolderCannotBeCreated) {
    TempDir dir;
    const std::string path = dir.Path() + "/no/such/folder.txt";
    EXPECT_EQ(
        ErrorOf([&] { SaveLinesToFile(path, {"x"}); }),
        (std::pair<std::string, std::string>{
            "EFCreateError", "Cannot create file \"" + path + "\". No such file or directory"}));
}

TEST(LinesFile, RelativeNamesAreReportedInFull) {
    TempDir dir;
    testing::CurrentDir here(dir.Path());
    EXPECT_EQ(ErrorOf([&] { LoadLinesFromFile("ResultQuery.TXT"); }).second,
              "Cannot open file \"" + dir.Path() + "/ResultQuery.TXT\". No such file or directory");
}

}  // namespace
}  // namespace lumo::app
