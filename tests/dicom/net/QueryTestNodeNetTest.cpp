// The scriptable test node checked with dcmtk's own clients (findscu,
// echoscu), so the node other tests rely on is known to speak DICOM properly
// on its own.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures/TestNode.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::testing {
namespace {

using namespace std::chrono_literals;

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

std::vector<std::string> Findscu(std::uint16_t port, std::vector<std::string> options) {
    std::vector<std::string> args{"findscu", "-v", "-aec", "NORVANEX"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("127.0.0.1");
    args.push_back(std::to_string(port));
    return args;
}

TEST(TestNodeDataSet, BuildsNestedSequencesAndRawText) {
    DcmDataset ds =
        MakeDataSet({{DCM_PatientName, "M\xFCller"},
                     {DCM_PatientID, ""},
                     {DCM_ScheduledProcedureStepSequence,
                      Items{{{DCM_Modality, "CT"}},
                            {{DCM_Modality, "MR"}, {DCM_ScheduledStationAETitle, "S"}}}}});

    EXPECT_EQ(RawText(ds, DCM_PatientName), "M\xFCller");
    EXPECT_EQ(RawText(ds, DCM_PatientID), "");
    EXPECT_EQ(RawText(ds, DCM_AccessionNumber), std::nullopt);
    DcmSequenceOfItems* steps = nullptr;
    ASSERT_TRUE(ds.findAndGetSequence(DCM_ScheduledProcedureStepSequence, steps).good());
    ASSERT_EQ(steps->card(), 2u);
    EXPECT_EQ(RawText(*steps->getItem(1), DCM_Modality), "MR");
    EXPECT_EQ(steps->getItem(1)->card(), 2u);
}

TEST(TestNodeNet, RecordsTheIdentifierFindscuSends) {
    TestNode node;
    node.Start();

    std::string output;
    ASSERT_EQ(
        RunProgram(Findscu(node.Port(), {"-S", "-aet", "FINDER", "-k", "QueryRetrieveLevel=STUDY",
                                         "-k", "PatientName=DOE*", "-k", "StudyInstanceUID"}),
                   &output),
        0)
        << output;

    auto received = node.Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].sopClassUID, kStudyRootFind);
    EXPECT_EQ(received[0].callingAETitle, "FINDER");
    EXPECT_EQ(received[0].calledAETitle, "NORVANEX");
    EXPECT_EQ(received[0].Tags(), (std::vector<DcmTagKey>{DCM_QueryRetrieveLevel, DCM_PatientName,
                                                          DCM_StudyInstanceUID}));
    EXPECT_EQ(received[0].Text(DCM_PatientName), "DOE*");
    EXPECT_FALSE(received[0].transferSyntaxUID.empty());
}

TEST(TestNodeNet, AnswersWithTheGivenDataSetsThenSuccess) {
    TestNode node;
    node.SetResponses(
        {MakeDataSet({{DCM_PatientID, "FIRST"}}), MakeDataSet({{DCM_PatientID, "SECOND"}})});
    node.Start();

    std::string output;
    ASSERT_EQ(RunProgram(Findscu(node.Port(),
                                 {"-P", "-k", "QueryRetrieveLevel=PATIENT", "-k", "PatientID"}),
                         &output),
              0)
        << output;

    EXPECT_EQ(CountOf(output, "(Pending)"), 2) << output;
    EXPECT_LT(output.find("FIRST"), output.find("SECOND"));
    EXPECT_EQ(CountOf(output, "Received Final Find Response (Success)"), 1) << output;
}

TEST(TestNodeNet, SyntheticWorklistResponsesAreDistinct) {
    TestNode node;
    node.SetSyntheticResponses(3);
    node.Start();

    std::string output;
    ASSERT_EQ(RunProgram(Findscu(node.Port(), {"-W", "-k", "AccessionNumber"}), &output), 0)
        << output;

    EXPECT_EQ(CountOf(output, "(Pending)"), 3);
    for (const char* accession : {"[ACC1]", "[ACC2]", "[ACC3]"})
        EXPECT_NE(output.find(accession), std::string::npos);
    EXPECT_NE(output.find("ScheduledProcedureStepSequence"), std::string::npos);
}

TEST(TestNodeNet, AnswersFromTheFilesOfAFolder) {
    TempDir dir;
    for (const char* id : {"PB", "PA"}) {
        DcmFileFormat file;
        PutAttributes(*file.getDataset(),
                      {{DCM_SOPClassUID, "1.2.840.10008.5.1.4.1.1.7"},
                       {DCM_SOPInstanceUID, std::string("1.2.3.") + (id[1] == 'A' ? "1" : "2")},
                       {DCM_PatientID, id}});
        ASSERT_TRUE(
            file.saveFile(dir.File(std::string(id) + ".dcm").c_str(), EXS_LittleEndianExplicit)
                .good());
    }
    TestNode node;
    node.SetResponsesFromFolder(dir.Path());
    node.Start();

    std::string output;
    ASSERT_EQ(RunProgram(Findscu(node.Port(), {"-P", "-k", "QueryRetrieveLevel=PATIENT"}), &output),
              0)
        << output;

    EXPECT_EQ(CountOf(output, "(Pending)"), 2);
    ASSERT_NE(output.find("[PB]"), std::string::npos) << output;
    EXPECT_LT(output.find("[PA]"), output.find("[PB]"));  // in file-name order
}

TEST(TestNodeNet, AnswersEcho) {
    TestNode node;
    node.Start();

    EXPECT_EQ(RunProgram({"echoscu", "-aec", "NORVANEX", "127.0.0.1", std::to_string(node.Port())}),
              0);

    auto received = node.Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].command, "C-ECHO");
    EXPECT_EQ(received[0].identifier, nullptr);
}

TEST(TestNodeNet, FailureStatusReachesFindscu) {
    TestNode node;
    node.SetFinalStatus(0xC001, "Out of order");
    node.Start();

    std::string output;
    RunProgram(Findscu(node.Port(), {"-S", "-k", "QueryRetrieveLevel=STUDY"}), &output);

    EXPECT_NE(output.find("Received Final Find Response (Failed: UnableToProcess)"),
              std::string::npos)
        << output;
}

TEST(TestNodeNet, DelayedAnswersStillArriveInFull) {
    TestNode node;
    node.SetSyntheticResponses(3);
    node.SetResponseDelay(20ms);
    node.Start();

    std::string output;
    ASSERT_EQ(RunProgram(Findscu(node.Port(), {"-S", "-k", "QueryRetrieveLevel=STUDY"}), &output),
              0)
        << output;
    EXPECT_EQ(CountOf(output, "(Pending)"), 3);
}

TEST(TestNodeNet, StandaloneNodeServesSyntheticResponses) {
    TestNodeProcess node({"--synthetic", "4", "--aetitle", "NORVANEX"});

    std::string output;
    ASSERT_EQ(RunProgram(Findscu(node.Port(), {"-S", "-k", "QueryRetrieveLevel=STUDY"}), &output),
              0)
        << output;
    EXPECT_EQ(CountOf(output, "(Pending)"), 4);
}

TEST(TestNodeNet, StandaloneNodeRejectsWhenAsked) {
    TestNodeProcess node({"--reject", "calling"});

    std::string output;
    EXPECT_NE(RunProgram(Findscu(node.Port(), {"-S", "-k", "QueryRetrieveLevel=STUDY"}), &output),
              0);
    EXPECT_NE(output.find("Calling AE Title Not Recognized"), std::string::npos) << output;
}

TEST(TestNodeNet, StandaloneNodeRefusesBadOptions) {
    std::string output;
    EXPECT_EQ(RunProgram({TestNodeProgram(), "--status", "XYZ"}, &output), 2);
    EXPECT_NE(output.find("usage"), std::string::npos);
}

TEST(TestNodeNet, StopEndsAnAssociationLeftOpenBySilence) {
    TestNode node;
    node.SetSilent(Silence::AfterRequest);
    node.Start();
    ChildProcess findscu(Findscu(node.Port(), {"-S", "-k", "QueryRetrieveLevel=STUDY"}));
    ASSERT_TRUE(node.WaitForRequests(1, 10s));

    node.Stop();

    auto associations = node.Associations();
    ASSERT_EQ(associations.size(), 1u);
    EXPECT_EQ(associations[0].end, AssociationRecord::End::AbortedByNode);
}

}  // namespace
}  // namespace lumo::testing
