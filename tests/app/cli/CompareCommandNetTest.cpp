// `lumo4410-cli compare`: the same query to two nodes and what differs.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/FormTestSupport.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TestNode.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;
using testing::TempDir;

DcmDataset Study(const char* uid, const char* institution) {
    return MakeDataSet(
        {{DCM_StudyInstanceUID, uid}, {DCM_PatientID, "P1"}, {DCM_InstitutionName, institution}});
}

testing::ProgramResult Compare(const TestNode& a, const TestNode& b, const TempDir& dir,
                               std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"compare",        "study",
                                     "--ip=127.0.0.1", "--port=" + std::to_string(a.Port()),
                                     "--port2",        std::to_string(b.Port()),
                                     "--aet2=OTHER"};
    args.insert(args.end(), more.begin(), more.end());
    return testing::RunProgram(LUMO_CLI_PROGRAM, args, dir.Path(), std::chrono::seconds(60));
}

// One study on each side only, one that differs: each side is asked again
// for what only the other answered, then the report.
TEST(CompareNet, OneStudyMissingOnEachSideAndOneAttributeChanged) {
    TestNode a;
    TestNode b;
    std::vector<DcmDataset> onA;
    onA.push_back(Study("1.1", "NORD"));
    onA.push_back(Study("1.2", "NORD"));
    onA.push_back(Study("1.3", "NORD"));
    std::vector<DcmDataset> onB;
    onB.push_back(Study("1.2", "SUD"));
    onB.push_back(Study("1.3", "NORD"));
    onB.push_back(Study("1.4", "NORD"));
    a.SetResponses(std::move(onA));
    b.SetResponses(std::move(onB));
    a.Start();
    b.Start();
    TempDir dir;

    const auto result = Compare(a, b, dir, {"--csv", dir.Path() + "/report.csv"});
    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_EQ(result.out,
              "Réponses de A : 3\nRéponses de B : 3\nAppariées : 2\nSeulement dans A : 1\n"
              "Seulement dans B : 1\nDifférentes : 1\nSeulement dans A : 1.1\n"
              "Seulement dans B : 1.4\nDifférente : 1.2\n  InstitutionName : A=NORD | B=SUD\n");
    // The first question and one more by key, to each node.
    EXPECT_EQ(a.ReceivedCount(), 2u);
    ASSERT_EQ(b.ReceivedCount(), 2u);
    EXPECT_EQ(b.Received()[0].calledAETitle, "OTHER");
    EXPECT_EQ(testing::WireText(b.Received()[1], DCM_StudyInstanceUID), "1.1");
    std::string read;
    ASSERT_EQ(lumo::testing::RunProgram(
                  {"/usr/bin/python3", "-c",
                   "import csv, sys\n"
                   "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8-sig', newline='')))\n"
                   "print(rows[-1])",
                   dir.Path() + "/report.csv"},
                  &read),
              0);
    EXPECT_EQ(read, "['différente', '1.2', 'InstitutionName', 'NORD', 'SUD']\n");
}

// Two real archives (dcmqrscp) holding overlapping studies: one study on
// each side only, one patient name changed. Each is asked again for what only
// the other holds, and finds nothing; compared both ways.
TEST(CompareNet, TwoArchivesComparedBothWays) {
    using lumo::testing::Instance;
    const auto study = [](const char* n, const char* name) {
        const std::string uid = std::string("1.2.826.0.1.3680043.9.7433.8.") + n;
        return Instance{"P" + std::string(n), name, uid,         "A" + std::string(n), "CT",
                        uid + ".1",           "1",  uid + ".1.1"};
    };
    const lumo::testing::ArchiveServer first(
        {study("1", "DOE^JOHN"), study("2", "DOE^JANE"), study("3", "ROE^RICHARD")});
    const lumo::testing::ArchiveServer second(
        {study("2", "DOE^JANE"), study("3", "ROE^RICK"), study("4", "POE^EDGAR")});
    TempDir dir;
    const auto run = [&](const lumo::testing::ArchiveServer& a,
                         const lumo::testing::ArchiveServer& b) {
        return testing::RunProgram(
            LUMO_CLI_PROGRAM,
            {"compare", "study", "--ip=127.0.0.1", "--port=" + std::to_string(a.Port()),
             "--aet=COMMON", "--date=", "--port2=" + std::to_string(b.Port())},
            dir.Path(), std::chrono::seconds(60));
    };
    const std::string uid = "1.2.826.0.1.3680043.9.7433.8.";
    const auto ab = run(first, second);
    EXPECT_EQ(ab.exitCode, 3) << ab.err;
    EXPECT_EQ(ab.out,
              "Réponses de A : 3\nRéponses de B : 3\nAppariées : 2\nSeulement dans A : 1\n"
              "Seulement dans B : 1\nDifférentes : 1\nSeulement dans A : " +
                  uid + "1\nSeulement dans B : " + uid + "4\nDifférente : " + uid +
                  "3\n  PatientName : A=ROE^RICHARD | B=ROE^RICK\n");
    const auto ba = run(second, first);
    EXPECT_EQ(ba.exitCode, 3) << ba.err;
    EXPECT_NE(ba.out.find("Seulement dans A : " + uid + "4\n"), std::string::npos) << ba.out;
    EXPECT_NE(ba.out.find("  PatientName : A=ROE^RICK | B=ROE^RICHARD\n"), std::string::npos);
}

TEST(CompareNet, SameAnswersExitZeroAndAFailedNodeOne) {
    TestNode a;
    TestNode b;
    a.SetResponses({Study("1.1", "NORD")});
    b.SetResponses({Study("1.1", "NORD")});
    a.Start();
    b.Start();
    TempDir dir;
    const auto same = Compare(a, b, dir);
    EXPECT_EQ(same.exitCode, 0) << same.err;
    EXPECT_NE(same.out.find("Appariées : 1\n"), std::string::npos) << same.out;

    b.SetRejectAssociation(lumo::testing::RejectReason::CalledAETitleNotRecognized);
    const auto failed = Compare(a, b, dir);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err.rfind("Noeud B : EDicomAssociationRejected\n", 0), 0u) << failed.err;
}

}  // namespace
}  // namespace lumo::app
