// lumo4410-cli batch FILE and study --export: the program itself against the
// test node, its files in a temporary folder.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/cli/CliOptions.h"
#include "support/Exception.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app {
namespace {

using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::ChildProgram;
using testing::FileNames;
using testing::ProgramResult;
using testing::SplitLines;
using testing::TempDir;
using testing::WireText;
using Lines = std::vector<std::string>;

ProgramResult Cli(const std::vector<std::string>& args, const TempDir& dir) {
    return testing::RunProgram(LUMO_CLI_PROGRAM, args, dir.Path(), std::chrono::seconds(60));
}

std::vector<std::string> With(std::vector<std::string> head, const TestNode& node) {
    head.push_back("--ip=127.0.0.1");
    head.push_back("--port=" + std::to_string(node.Port()));
    return head;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Write(const TempDir& dir, const std::string& name, const std::string& bytes) {
    const std::string path = dir.Path() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::vector<DcmDataset> OneStudy() {
    std::vector<DcmDataset> sets;
    sets.push_back(MakeDataSet({{DCM_AccessionNumber, "A123"},
                                {DCM_PatientName, "DUPONT^JEAN"},
                                {DCM_StudyInstanceUID, "1.2.3"}}));
    return sets;
}

TEST(BatchCommandOptions, BatchTakesItsFileAndTheTabFields) {
    const CliOptions options = ParseCliOptions(
        {"batch", "records.txt", "--label1=Patient:", "--label2", "Visite:", "--sql=x %1"});
    EXPECT_EQ(options.command, CliOptions::Command::Batch);
    EXPECT_EQ(options.batchFile, "records.txt");
    EXPECT_EQ(options.fields,
              (std::vector<std::pair<std::string, std::string>>{
                  {"EditNomData1", "Patient:"}, {"EditNomData2", "Visite:"}, {"EditSQL", "x %1"}}));
}

TEST(BatchCommandOptions, BatchWithoutFileIsBadUsage) {
    try {
        ParseCliOptions({"batch"});
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), "EUsageError");
        EXPECT_EQ(e.Message(), "batch needs a file");
    }
}

TEST(BatchCommandOptions, ExportIsAFlag) {
    EXPECT_TRUE(ParseCliOptions({"study", "--export"}).exportResult);
    EXPECT_FALSE(ParseCliOptions({"study"}).exportResult);
    EXPECT_THROW(ParseCliOptions({"study", "--export=yes"}), Exception);
}

TEST(BatchCommandNet, PrintsEachLineThenTheOutputFile) {
    TestNode node;
    node.SetResponses(OneStudy());
    node.Start();
    TempDir dir;
    const std::string input =
        Write(dir, "LUMO4410_1.txt", "CONCATENATION\r\nDUPONT;JEAN;19600101;A123;42\r\n");
    const ProgramResult result = Cli(With({"batch", input, "--date="}, node), dir);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string line =
        "Update examen e set e.SIUID = '1.2.3', e.idexterne = 'A123' where e.id_examen = 42; "
        "-- A123 - DUPONT - 19600101";
    // Only the SQL lines on stdout, not the listings behind them.
    EXPECT_EQ(SplitLines(result.out), (Lines{line}));
    const std::string output = dir.Path() + "/LUMO4410_1_RESULT.txt";
    EXPECT_EQ(ReadBytes(output), line + "\r\n");
    const Lines err = SplitLines(result.err);
    ASSERT_GE(err.size(), 2u) << result.err;
    EXPECT_EQ(err[err.size() - 2], "FIN");
    EXPECT_EQ(err.back(), output);
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(WireText(node.Received()[0], DCM_AccessionNumber), "A123*");
    EXPECT_EQ(WireText(node.Received()[0], DCM_StudyDate), "");
}

TEST(BatchCommandNet, LabelAndStatementOptions) {
    TestNode node;
    node.SetResponses(OneStudy());
    node.Start();
    TempDir dir;
    const std::string input = Write(dir, "in.csv", "DUPONT;JEAN;19600101;A123;42\n");
    const ProgramResult result = Cli(
        With({"batch", input, "--label1=Patient:", "--label2=Dossier:", "--sql=SET n='%1' p='%2'"},
             node),
        dir);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(SplitLines(result.out),
              (Lines{"SET n='DUPONT^JEAN' p='' = 42; -- A123 - DUPONT - 19600101"}));
}

// A batch stopped by SIGTERM or SIGINT keeps what it built: the result file
// holds the lines of the records done and says where the run stopped, it
// replaces an older result, and the program fails.
TEST(BatchCommandNet, SigtermWritesTheLinesBuiltAndTheInterruption) {
    TestNode node;
    node.SetResponses(OneStudy());
    node.SetResponseDelay(std::chrono::milliseconds(150));
    node.Start();
    constexpr int kRecords = 40;
    std::string records;
    for (int id = 1; id <= kRecords; ++id)
        records += "DUPONT;JEAN;19600101;A123;" + std::to_string(id) + "\r\n";
    for (const int stop : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(stop == SIGTERM ? "SIGTERM" : "SIGINT");
        TempDir dir;
        const std::string input = Write(dir, "slow.txt", records);
        const std::string output = Write(dir, "slow_RESULT.txt", "a result of an older run\r\n");

        ChildProgram child(LUMO_CLI_PROGRAM, With({"batch", input, "--date="}, node), dir.Path());
        ASSERT_TRUE(child.WaitForOut("e.id_examen = 2;", std::chrono::seconds(60)))
            << child.ErrSoFar();
        child.Signal(stop);
        const ProgramResult result = child.Wait(std::chrono::seconds(60));
        EXPECT_EQ(result.exitCode, 1) << result.err;

        // What was printed is what was written, the interruption included.
        const Lines printed = SplitLines(result.out);
        std::string expected;
        for (const std::string& line : printed) expected += line + "\r\n";
        EXPECT_EQ(ReadBytes(output), expected);
        ASSERT_GE(printed.size(), 3u) << result.out;
        const std::size_t done = printed.size() - 1;
        EXPECT_LT(done, static_cast<std::size_t>(kRecords));
        for (std::size_t i = 0; i < done; ++i) {
            EXPECT_EQ(printed[i],
                      "Update examen e set e.SIUID = '1.2.3', e.idexterne = 'A123' "
                      "where e.id_examen = " +
                          std::to_string(i + 1) + "; -- A123 - DUPONT - 19600101");
        }
        EXPECT_EQ(printed.back(), "-- Interrompu après " + std::to_string(done) + " / " +
                                      std::to_string(kRecords) + " enregistrements");
        const Lines err = SplitLines(result.err);
        EXPECT_EQ(std::find(err.begin(), err.end(), "FIN"), err.end()) << result.err;
        ASSERT_FALSE(err.empty());
        EXPECT_EQ(err.back(), output);
        // Nothing left beside it.
        EXPECT_EQ(FileNames(dir.Path()),
                  (Lines{".child-stderr", ".child-stdout", "slow.txt", "slow_RESULT.txt"}));
    }
}

TEST(BatchCommandNet, MissingFileFailsWithItsErrorText) {
    TestNode node;
    node.Start();
    TempDir dir;
    const std::string input = dir.Path() + "/absent.txt";
    const ProgramResult result = Cli(With({"batch", input}, node), dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("Cannot open file \"" + input + "\". "), std::string::npos)
        << result.err;
    EXPECT_EQ(node.ReceivedCount(), 0u);
}

TEST(BatchCommandNet, EmptyFileWritesNothingAndFails) {
    TestNode node;
    node.Start();
    TempDir dir;
    const std::string input = Write(dir, "empty.txt", "");
    const ProgramResult result = Cli(With({"batch", input}, node), dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("est vide"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/empty_RESULT.txt"));
}

TEST(BatchCommandNet, StudyExportWritesTheListing) {
    TestNode node;
    node.SetResponses(OneStudy());
    node.Start();
    TempDir dir;
    const ProgramResult result = Cli(With({"study", "--export"}, node), dir);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::string expected;
    for (const std::string& line : SplitLines(result.out)) expected += line + "\r\n";
    EXPECT_GT(expected.size(), 100u);
    EXPECT_EQ(ReadBytes(dir.Path() + "/ResultQuery.TXT"), expected);
}

TEST(BatchCommandNet, ExportThatCannotBeWrittenFails) {
    TestNode node;
    node.Start();
    TempDir dir;
    std::filesystem::create_directory(dir.Path() + "/ResultQuery.TXT");
    const ProgramResult result = Cli(With({"study", "--export"}, node), dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Cannot create file \"" + dir.Path() +
                              "/ResultQuery.TXT\". Is a directory"),
              std::string::npos)
        << result.err;
}

}  // namespace
}  // namespace lumo::app
