// The check and testdate commands of lumo4410-cli, the stored settings it
// starts from, and the caption's version read from the real executable.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/TFormTestWL.h"
#include "support/Application.h"
#include "support/Global_Registry.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app {
namespace {

using lumo::testing::Items;
using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::ProgramResult;
using testing::SplitLines;

using Lines = std::vector<std::string>;

constexpr auto kBound = std::chrono::seconds(60);

ProgramResult Cli(const Lines& args, const testing::ProgramFolder& folder) {
    return testing::RunProgram(LUMO_CLI_PROGRAM, args, folder.Path(), kBound);
}

TEST(CheckCommandNet, PrintsTheLinesOfTheRun) {
    testing::ProgramFolder folder;
    TestNode node;
    node.SetResponses({MakeDataSet({{DCM_StudyInstanceUID, "1.2.840.1"},
                                    {DCM_ScheduledProcedureStepSequence,
                                     Items{{{DCM_ScheduledProcedureStepStartDate, "20261207"},
                                            {DCM_ScheduledProcedureStepStartTime, "0800"}}}}})});
    node.Start();
    const ProgramResult result =
        Cli({"check", "--ip=127.0.0.1", "--port=" + std::to_string(node.Port()), "--aet=WLNODE",
             "--accession=A1"},
            folder);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(SplitLines(result.out),
              (Lines{"Worklist demandé à WLNODE", "-> Réponse arrivée", "checkResults", "Res",
                     "studyuid:1.2.840.1", "Fin check Res"}));
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(testing::WireText(node.Received()[0], DCM_AccessionNumber), "A1");
}

TEST(CheckCommandNet, AnUnreachableNodeExitsWithOne) {
    testing::ProgramFolder folder;
    const ProgramResult result =
        Cli({"check", "--ip=127.0.0.1", "--port=" + testing::UnusedPort()}, folder);
    EXPECT_EQ(result.exitCode, 1);
    const Lines lines = SplitLines(result.out);
    ASSERT_EQ(lines.size(), 4u) << result.out;
    EXPECT_EQ(lines[1].rfind("Exception(", 0), 0u);
    EXPECT_EQ(lines[3], "Fin check Res");
}

TEST(CheckCommandNet, TheStoredSettingsAreUsedAndNotWrittenBack) {
    testing::ProgramFolder folder;  // XDG_CONFIG_HOME for the child too
    TestNode node;
    node.Start();
    WriteSetting("FormTestWL", "IP", "127.0.0.1");
    WriteSetting("FormTestWL", "Port", std::to_string(node.Port()));
    WriteSetting("FormTestWL", "AETitle", "STORED_AE");
    WriteSetting("FormTestWL", "CallingAETitle", "STORED_CALLER");
    WriteSetting("FormTestWL", "Modalite", "US");
    const std::string before = testing::ReadText(SettingsFileName());

    const ProgramResult result = Cli({"check", "--calling-aet=OPTION_CALLER"}, folder);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].calledAETitle, "STORED_AE");
    EXPECT_EQ(node.Received()[0].callingAETitle, "OPTION_CALLER");
    EXPECT_EQ(
        testing::WireItemText(node.Received()[0], DCM_ScheduledProcedureStepSequence, DCM_Modality),
        "US");
    EXPECT_EQ(testing::ReadText(SettingsFileName()), before);
}

TEST(CheckCommandNet, TestDatePrintsTheSixReadings) {
    testing::ProgramFolder folder;
    const ProgramResult result = Cli({"testdate", "--date=20261207"}, folder);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const Lines lines = SplitLines(result.out);
    ASSERT_EQ(lines.size(), 6u) << result.out;
    EXPECT_EQ(lines[2], "VariantValue(False):20261207");
    EXPECT_EQ(lines[3], "UnicodeValue:20261207");
    EXPECT_EQ(lines[5].rfind("DateTimeTo:", 0), 0u);
}

TEST(CheckCommandNet, TheCaptionCarriesTheVersionOfTheRealExecutable) {
    testing::ProgramFolder folder;
    testing::RecordingHost host;
    SetProgramFileName(LUMO_CLI_PROGRAM);
    TFormTestWL versioned(host);
    ASSERT_TRUE(versioned.RunHandler([&] { versioned.FormCreate(); }));
#ifdef LUMO_CLI_HAS_VERSION
    EXPECT_EQ(versioned.Form.Caption,
              std::string("Query Worklist / CFIND - v.") + LUMO_VERSION_TEXT);
#else
    EXPECT_EQ(versioned.Form.Caption.rfind("Query Worklist / CFIND - v.", 0), 0u);
#endif
}

}  // namespace
}  // namespace lumo::app
