#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/net/DicomQuery.h"
#include "support/DateTime.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app {
namespace {

using lumo::testing::Attr;
using lumo::testing::Items;
using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::ProgramResult;
using testing::SplitLines;
using testing::TempDir;
using testing::WireText;

constexpr auto kBound = std::chrono::seconds(60);

ProgramResult Cli(const std::vector<std::string>& args, const TempDir& dir) {
    return testing::RunProgram(LUMO_CLI_PROGRAM, args, dir.Path(), kBound);
}

std::vector<std::string> NodeArgs(const TestNode& node) {
    return {"--ip=127.0.0.1", "--port=" + std::to_string(node.Port())};
}

std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::vector<DcmDataset> TwoStudies() {
    std::vector<DcmDataset> studies;
    studies.push_back(MakeDataSet({{DCM_AccessionNumber, "A1"},
                                   {DCM_PatientID, "P1"},
                                   {DCM_PatientName, "DOE^JOHN"},
                                   {DCM_StudyInstanceUID, "1.2.3"},
                                   {DCM_NumberOfStudyRelatedSeries, "2"},
                                   {DCM_NumberOfStudyRelatedInstances, "10"},
                                   {DCM_Modality, "CT"}}));
    studies.push_back(MakeDataSet({{DCM_AccessionNumber, "A2"}, {DCM_PatientID, "P2"}}));
    return studies;
}

// The stderr lines of the two time labels, whatever else it holds.
void ExpectTimeLines(const std::string& err, const std::string& response) {
    const std::regex time("[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}");
    bool requested = false;
    bool responded = false;
    for (const std::string& line : SplitLines(err)) {
        const std::string asked = "Demandée à : ";
        const std::string answered = "Réponse à : ";
        if (line.rfind(asked, 0) == 0) {
            requested = std::regex_match(line.substr(asked.size()), time);
        } else if (line.rfind(answered, 0) == 0) {
            const std::string value = line.substr(answered.size());
            responded = response.empty() ? std::regex_match(value, time) : value == response;
        }
    }
    EXPECT_TRUE(requested) << err;
    EXPECT_TRUE(responded) << err;
}

TEST(CliNet, StudyPrintsEveryLineAndBothTimes) {
    TestNode node;
    node.SetResponses(TwoStudies());
    node.Start();
    TempDir dir;
    const ProgramResult result = Cli(With({"study", "--name=DOE*"}, NodeArgs(node)), dir);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> expected = {"A1     P1   ",  "Patient: DOE^JOHN",
                                               "Dossier: P1",   "Naissance: ",
                                               "Study Date: ",  "Study Time: ",
                                               "Visite: A1",    "StudyUID: 1.2.3",
                                               "Referant: ",    "Institution: ",
                                               "Nb Series : 2", "Nb Instances : 10",
                                               "Modalite : CT", "---------------------",
                                               "A2     P2   ",  "Patient: ",
                                               "Dossier: P2",   "Naissance: ",
                                               "Study Date: ",  "Study Time: ",
                                               "Visite: A2",    "StudyUID: ",
                                               "Referant: ",    "Institution: ",
                                               "Nb Series : ",  "Nb Instances : ",
                                               "Modalite : ",   "---------------------"};
    EXPECT_EQ(SplitLines(result.out), expected);
    ExpectTimeLines(result.err, "");
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(WireText(node.Received()[0], DCM_PatientName), "DOE*");
}

TEST(CliNet, EachCommandSendsItsKindOfQuery) {
    TestNode node;
    node.Start();
    TempDir dir;
    struct Case {
        const char* command;
        const char* sopClass;
        std::optional<std::string> level;
    };
    const Case cases[] = {
        {"worklist", lumo::testing::kWorklistFind, std::nullopt},
        {"patient", lumo::testing::kPatientRootFind, "PATIENT"},
        {"study", lumo::testing::kStudyRootFind, "STUDY"},
        {"series", lumo::testing::kStudyRootFind, "SERIES"},
        {"image", lumo::testing::kStudyRootFind, "IMAGE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        node.ClearReceived();
        const ProgramResult result = Cli(With({c.command}, NodeArgs(node)), dir);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(SplitLines(result.out), std::vector<std::string>{"Aucun résultat"});
        ExpectTimeLines(result.err, "");
        ASSERT_EQ(node.ReceivedCount(), 1u);
        const auto request = node.Received()[0];
        EXPECT_EQ(request.sopClassUID, c.sopClass);
        EXPECT_EQ(WireText(request, DCM_QueryRetrieveLevel), c.level);
    }
}

TEST(CliNet, OmittedOptionsKeepTheStartUpTexts) {
    TestNode node;
    node.Start();
    TempDir dir;
    const std::string before = FormatDateTime("yyyymmdd", Now());
    const ProgramResult result = Cli(With({"worklist", "--accession="}, NodeArgs(node)), dir);
    const std::string after = FormatDateTime("yyyymmdd", Now());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(node.ReceivedCount(), 1u);
    const auto request = node.Received()[0];
    EXPECT_EQ(request.callingAETitle, "Lumo4410");
    EXPECT_EQ(request.calledAETitle, "NORVANEX");
    EXPECT_EQ(WireText(request, DCM_AccessionNumber), "");
    const auto date = testing::WireItemText(request, DCM_ScheduledProcedureStepSequence,
                                            DCM_ScheduledProcedureStepStartDate);
    ASSERT_TRUE(date.has_value());
    EXPECT_TRUE(*date == before || *date == after) << *date;
}

TEST(CliNet, OptionsWrittenApartAndParametersAreAccepted) {
    TestNode node;
    node.Start();
    TempDir dir;
    const ProgramResult result =
        Cli({"patient", "--ip", "127.0.0.1", "--port", std::to_string(node.Port()), "--calling-aet",
             "CALLER", "--aet", "CALLED", "--dossier", "P 1", "logdir=/tmp"},
            dir);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(node.ReceivedCount(), 1u);
    const auto request = node.Received()[0];
    EXPECT_EQ(request.callingAETitle, "CALLER");
    EXPECT_EQ(request.calledAETitle, "CALLED");
    EXPECT_EQ(WireText(request, DCM_PatientID), "P 1");
}

TEST(CliNet, SaveWritesTheResponsesUnderLogs) {
    TestNode node;
    node.SetResponses(TwoStudies());
    node.Start();
    TempDir dir;
    const ProgramResult result = Cli(With({"study", "--save"}, NodeArgs(node)), dir);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(testing::FileNames(dir.Path() + "/Logs"),
              (std::vector<std::string>{"Lumo4410_1.dcm", "Lumo4410_2.dcm"}));
    EXPECT_EQ(dicom::DicomDataSet::ReadFile(dir.Path() + "/Logs/Lumo4410_2.dcm").DataSetPatientID(),
              "P2");
}

TEST(CliNet, AFailedQueryExitsWithOne) {
    TempDir dir;
    const ProgramResult result =
        Cli({"study", "--ip=127.0.0.1", "--port=" + testing::UnusedPort()}, dir);
    EXPECT_EQ(result.exitCode, 1);
    const std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines[0], "EDicomNetworkError");
    EXPECT_FALSE(lines[1].empty());
    ExpectTimeLines(result.err, "Erreur");
}

TEST(CliNet, AFailureStatusExitsWithOne) {
    TestNode node;
    node.SetFinalStatus(0xC001);
    node.Start();
    TempDir dir;
    const ProgramResult result = Cli(With({"study"}, NodeArgs(node)), dir);
    EXPECT_EQ(result.exitCode, 1);
    const std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines[0], "EDicomStatusError");
    ExpectTimeLines(result.err, "Erreur");
}

TEST(CliNet, APortThatIsNotANumberExitsWithOne) {
    TempDir dir;
    const ProgramResult result = Cli({"image", "--port=abc"}, dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(SplitLines(result.out),
              (std::vector<std::string>{"EConvertError", "'abc' is not a valid integer value"}));
    ExpectTimeLines(result.err, "Erreur");
}

TEST(CliNet, BadUsageExitsWithTwoAndTheUsage) {
    TempDir dir;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"find"}, {"study", "--bogus=1"}, {"study", "--ip"}, {"listen"}}) {
        const ProgramResult result = Cli(args, dir);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.out.empty());
        EXPECT_NE(result.err.find("Usage: lumo4410-cli COMMAND"), std::string::npos) << result.err;
    }
}

TEST(CliNet, HelpAndVersion) {
    TempDir dir;
    const ProgramResult help = Cli({"--help"}, dir);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: lumo4410-cli COMMAND", 0), 0u);
    const ProgramResult version = Cli({"--version"}, dir);
    EXPECT_EQ(version.exitCode, 0);
#ifdef LUMO_CLI_HAS_VERSION
    EXPECT_EQ(version.out, std::string("lumo4410-cli ") + LUMO_VERSION_TEXT + "\n");
#else
    EXPECT_EQ(version.out.rfind("lumo4410-cli", 0), 0u);
#endif
}

// Listen mode: an incoming query is relayed as a worklist query to the node
// of the options, its responses go back to the caller, the listing is
// printed, and SIGTERM closes the program normally.
TEST(CliNet, ListenRelaysUntilTerminated) {
    TestNode node;
    node.SetResponses(
        {MakeDataSet({{DCM_AccessionNumber, "ACC7"},
                      {DCM_PatientID, "PID7"},
                      {DCM_ScheduledProcedureStepSequence,
                       Items{{{DCM_Modality, "MR"}, {DCM_ScheduledProcedureStepID, "S7"}}}}})});
    node.Start();
    TempDir dir;
    testing::ChildProgram child(LUMO_CLI_PROGRAM, With({"listen", "0"}, NodeArgs(node)),
                                dir.Path());
    ASSERT_TRUE(child.WaitForErr("Écoute sur le port ", std::chrono::seconds(30)))
        << child.ErrSoFar();
    const std::string started = child.ErrSoFar();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(started, match, std::regex("Écoute sur le port ([0-9]+)")));
    const int listenPort = std::stoi(match[1].str());

    dicom::DicomQuery caller;
    caller.QuerySetCallingAETitle("MODALITY");
    caller.QuerySetCalledAETitle("RELAY");
    caller.QuerySetNodeAddress("127.0.0.1");
    caller.QuerySetNodePort(listenPort);
    caller.QuerySetRoot("WORKLIST");
    caller.QuerySetLevel("STUDY");
    caller.SetTimeouts(
        {std::chrono::seconds(5), std::chrono::seconds(10), std::chrono::seconds(30)});
    dicom::DicomDataSet request;
    request.DataSetAttributes().AttributesAdd(0x0010, 0x0020, dicom::Variant(""));
    const dicom::DicomDataSets responses = caller.QueryRun(request);
    ASSERT_EQ(responses.DataSetsCount(), 1);
    EXPECT_EQ(responses.DataSetsItem(1).DataSetAccessionNumber(), "ACC7");

    child.Signal(SIGTERM);
    const ProgramResult result = child.Wait(kBound);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_EQ(lines.size(), 13u) << result.out;
    EXPECT_EQ(lines[0], "ACC7     PID7   ");
    EXPECT_EQ(lines[11], "Scheduled Code d'acte $0040,$0009 S7");
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].callingAETitle, "MODALITY");
    EXPECT_EQ(node.Received()[0].calledAETitle, "RELAY");
}

TEST(CliNet, ListenOnAPortThatIsNotANumberFails) {
    TempDir dir;
    const ProgramResult result = Cli({"listen", "abc"}, dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("'abc' is not a valid integer value"), std::string::npos)
        << result.err;
}

}  // namespace
}  // namespace lumo::app
