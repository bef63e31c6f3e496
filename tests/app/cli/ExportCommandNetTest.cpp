// The responses of a query written as DICOM JSON and as CSV, read back by
// independent readers: Python's json and csv modules.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/app/FormTestSupport.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/TestNode.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::Items;
using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::TempDir;

// What Python makes of the two files, one fact a line.
const char* const kReader = R"(
import csv, json, sys
responses = json.load(open(sys.argv[1], encoding="utf-8"))
print(len(responses))
print(responses[0]["00100010"]["vr"], responses[0]["00100010"]["Value"][0]["Alphabetic"])
print(responses[0]["00080080"]["Value"][0])
print(len(responses[0]["00400275"]["Value"]), responses[0]["00400275"]["Value"][0]["00400009"]["Value"][0])
print(responses[1]["00080050"]["Value"][0], "00100010" in responses[1])
raw = open(sys.argv[2], "rb").read()
print(raw[:3] == b"\xef\xbb\xbf")
rows = list(csv.reader(open(sys.argv[2], encoding="utf-8-sig", newline="")))
print(len(rows), rows[0][:2])
column = {name: i for i, name in enumerate(rows[0])}
print(rows[1][column["PatientName"]], "|", rows[1][column["InstitutionName"]], "|",
      rows[1][column["RequestAttributesSequence"]], "|", rows[1][column["ModalitiesInStudy"]])
print(rows[2][column["PatientName"]] == "", rows[2][column["AccessionNumber"]])
print(rows[2][column["ReferringPhysicianName"]], rows[2][column["StudyDescription"]],
      rows[2][column["PatientID"]], responses[1]["00100020"]["Value"][0])
)";

TEST(ExportNet, JsonAndCsvHoldEveryResponseForIndependentReaders) {
    TestNode node;
    std::vector<DcmDataset> responses;
    responses.push_back(MakeDataSet(
        {{DCM_SpecificCharacterSet, "ISO_IR 192"},
         {DCM_AccessionNumber, "A1"},
         {DCM_PatientName, "Müller^Zoé"},
         {DCM_InstitutionName, "Hôpital \"Nord\", Lyon"},
         {DCM_ModalitiesInStudy, "CT\\MR"},
         {DCM_RequestAttributesSequence,
          Items{{{DCM_ScheduledProcedureStepID, "S1"}}, {{DCM_ScheduledProcedureStepID, "S2"}}}}}));
    // A value a spreadsheet would run as a formula stays text; a NUL is
    // shown alike in both files.
    responses.push_back(MakeDataSet({{DCM_AccessionNumber, "A2"},
                                     {DCM_ReferringPhysicianName, "=HYPERLINK(\"http://x\")"},
                                     {DCM_StudyDescription, "-2,5"},
                                     {DCM_PatientID, std::string("P\0Q", 3)}}));
    node.SetResponses(std::move(responses));
    node.Start();
    TempDir dir;
    const std::string json = dir.Path() + "/out.json";
    const std::string csv = dir.Path() + "/out.csv";
    const auto result =
        testing::RunProgram(LUMO_CLI_PROGRAM,
                            {"study", "--ip=127.0.0.1", "--port=" + std::to_string(node.Port()),
                             "--json", json, "--csv=" + csv},
                            dir.Path(), std::chrono::seconds(60));
    ASSERT_EQ(result.exitCode, 0) << result.err;

    std::string read;
    ASSERT_EQ(lumo::testing::RunProgram({"/usr/bin/python3", "-c", kReader, json, csv}, &read), 0)
        << read;
    EXPECT_EQ(read,
              "2\n"
              "PN Müller^Zoé\n"
              "Hôpital \"Nord\", Lyon\n"
              "2 S1\n"
              "A2 False\n"
              "True\n"
              "3 ['SpecificCharacterSet', 'AccessionNumber']\n"
              "Müller^Zoé | Hôpital \"Nord\", Lyon | 2 | CT\\MR\n"
              "True A2\n"
              "'=HYPERLINK(\"http://x\") '-2,5 P<00>Q P<00>Q\n");
}

// A file that cannot be written is an error, and the query counts as failed.
TEST(ExportNet, AFileThatCannotBeWrittenFailsTheCommand) {
    TestNode node;
    node.Start();
    TempDir dir;
    const auto result =
        testing::RunProgram(LUMO_CLI_PROGRAM,
                            {"study", "--ip=127.0.0.1", "--port=" + std::to_string(node.Port()),
                             "--json", dir.Path() + "/no/such/folder/out.json"},
                            dir.Path(), std::chrono::seconds(60));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("out.json"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace lumo::app
