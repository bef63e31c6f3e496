// "Export Result" and the hidden "Load Result": the result list to
// ResultQuery.TXT in the current folder and back.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/Application.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::CurrentDir;
using testing::FormOnNode;
using testing::RecordingHost;
using testing::TempDir;
using Lines = std::vector<std::string>;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A form without a node, working in a temporary current folder.
class ResultFile : public ::testing::Test {
  protected:
    ResultFile() { SetApplicationTitle("Test Worklist"); }

    bool Export() {
        return form.RunHandler([&] { form.Button5.Click(); });
    }
    bool Load() {
        return form.RunHandler([&] { form.Button6.Click(); });
    }
    std::string FilePath() const { return dir.Path() + "/ResultQuery.TXT"; }

    TempDir dir;
    CurrentDir here{dir.Path()};
    RecordingHost host;
    TFormTestWL form{host};
};

TEST_F(ResultFile, ButtonsAndTheirLook) {
    EXPECT_EQ(form.Button5.Caption, "Export Result");
    EXPECT_TRUE(form.Button5.Visible);
    EXPECT_EQ(form.Button6.Caption, "Load Result");
    EXPECT_FALSE(form.Button6.Visible);
}

TEST_F(ResultFile, ExportWritesTheLinesWithCrLfInUtf8) {
    form.ListBoxResult.Items.Assign({"A1     P1   ", "Référant: DR^WHO", "---------------------"});
    ASSERT_TRUE(Export());
    EXPECT_EQ(ReadBytes(FilePath()),
              "A1     P1   \r\nRéférant: DR^WHO\r\n---------------------\r\n");
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(ResultFile, ExportingAnEmptyListWritesAnEmptyFile) {
    std::ofstream(FilePath(), std::ios::binary) << "previous export\r\n";
    ASSERT_TRUE(Export());
    EXPECT_TRUE(std::filesystem::exists(FilePath()));
    EXPECT_EQ(ReadBytes(FilePath()), "");
}

TEST_F(ResultFile, ExportThenLoadGivesTheSameLines) {
    const Lines lines = {"Aucun résultat", "", "  padded  ", "---------------------"};
    form.ListBoxResult.Items.Assign(lines);
    ASSERT_TRUE(Export());
    form.ListBoxResult.Items.Assign({"something else"});
    ASSERT_TRUE(Load());
    EXPECT_EQ(form.ListBoxResult.Items.Copy(), lines);
}

TEST_F(ResultFile, LoadReplacesAndAcceptsEveryLineEnd) {
    std::ofstream(FilePath(), std::ios::binary) << "one\rtwo\nthree\r\nfour";
    form.ListBoxResult.Items.Assign({"kept?", "no"});
    ASSERT_TRUE(Load());
    EXPECT_EQ(form.ListBoxResult.Items.Copy(), (Lines{"one", "two", "three", "four"}));
    // A second load replaces again rather than appending.
    ASSERT_TRUE(Load());
    EXPECT_EQ(form.ListBoxResult.Items.Count(), 4u);
}

TEST_F(ResultFile, LoadReadsAWindows1252File) {
    std::ofstream(FilePath(), std::ios::binary) << "R\xe9"
                                                   "f\xe9rant\r\n";
    ASSERT_TRUE(Load());
    EXPECT_EQ(form.ListBoxResult.Items.Copy(), (Lines{"Référant"}));
}

TEST_F(ResultFile, FileThatCannotBeCreatedLeavesTheListAsItWas) {
    // A folder of that name: the file cannot be created over it.
    std::filesystem::create_directory(FilePath());
    form.ListBoxResult.Items.Assign({"line 1", "line 2"});
    EXPECT_FALSE(Export());
    EXPECT_EQ(host.errors, (Lines{"Cannot create file \"" + FilePath() + "\". Is a directory"}));
    EXPECT_EQ(form.ListBoxResult.Items.Copy(), (Lines{"line 1", "line 2"}));
}

TEST_F(ResultFile, MissingFileLeavesTheListAsItWas) {
    form.ListBoxResult.Items.Assign({"line 1", "line 2"});
    EXPECT_FALSE(Load());
    EXPECT_EQ(host.errors,
              (Lines{"Cannot open file \"" + FilePath() + "\". No such file or directory"}));
    EXPECT_EQ(form.ListBoxResult.Items.Copy(), (Lines{"line 1", "line 2"}));
}

TEST(ResultFileNet, ListingExportedAndLoadedBack) {
    TestNode node;
    node.SetResponses([] {
        std::vector<DcmDataset> sets;
        sets.push_back(MakeDataSet({{DCM_AccessionNumber, "A1"},
                                    {DCM_PatientName, "DOE^JOHN"},
                                    {DCM_StudyInstanceUID, "1.2.3"}}));
        sets.push_back(MakeDataSet({{DCM_AccessionNumber, "A2"}}));
        return sets;
    }());
    FormOnNode fixture{testing::Started(node)};
    TempDir dir;
    CurrentDir here(dir.Path());
    TFormTestWL& form = fixture.form;
    form.ButtonCFindStudyStudy.Click();
    const Lines listed = form.ListBoxResult.Items.Copy();
    ASSERT_GT(listed.size(), 20u);
    ASSERT_TRUE(form.RunHandler([&] { form.Button5.Click(); }));

    std::string expected;
    for (const std::string& line : listed) expected += line + "\r\n";
    EXPECT_EQ(ReadBytes(dir.Path() + "/ResultQuery.TXT"), expected);

    form.ListBoxResult.Items.Clear();
    ASSERT_TRUE(form.RunHandler([&] { form.Button6.Click(); }));
    EXPECT_EQ(form.ListBoxResult.Items.Copy(), listed);
}

// The window started from its desktop entry: "Save Results" and "Export
// Result" in its files' folder, nothing in the current folder.
TEST(ResultFileNet, AFilesFolderTakesTheSavedAndExportedFiles) {
    TestNode node;
    node.SetResponses([] {
        std::vector<DcmDataset> sets;
        sets.push_back(MakeDataSet({{DCM_AccessionNumber, "A1"}}));
        return sets;
    }());
    FormOnNode fixture{testing::Started(node)};
    TempDir dir;
    TempDir state;
    CurrentDir here(dir.Path());
    TFormTestWL& form = fixture.form;
    form.FilesFolder = state.Path() + "/";
    form.cbSaveResults.Checked = true;
    form.ButtonCFindStudyStudy.Click();
    ASSERT_TRUE(form.RunHandler([&] { form.Button5.Click(); }));
    ASSERT_TRUE(form.RunHandler([&] { form.Button6.Click(); }));

    EXPECT_TRUE(std::filesystem::is_regular_file(state.Path() + "/Logs/Lumo4410_1.dcm"));
    EXPECT_EQ(ReadBytes(state.Path() + "/ResultQuery.TXT").rfind("A1", 0), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace
}  // namespace lumo::app
