// lumo4410-cli move and get: the live counts, the end lines, the files kept,
// and an exit status that says whether everything asked for arrived.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/app/FormTestSupport.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app {
namespace {

using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::ProgramResult;

const std::string kStudy = "1.2.826.0.1.3680043.9.7433.8.1";

std::vector<std::string> Args(const char* command, std::uint16_t port, const char* called,
                              std::uint16_t storePort, std::vector<std::string> more) {
    std::vector<std::string> args{command,
                                  "study",
                                  "--ip=127.0.0.1",
                                  "--port=" + std::to_string(port),
                                  "--aet=" + std::string(called),
                                  "--calling-aet=LUMO4410",
                                  "--store-port=" + std::to_string(storePort),
                                  "--study-uid=" + kStudy,
                                  "--response-timeout=5"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(RetrieveCommandNet, MoveFromDcmqrscpCountsAndKeepsEveryInstance) {
    const std::uint16_t storePort = lumo::testing::FreePort();
    const lumo::testing::ArchiveServer node(
        {{"PID1", "DOE^ANN", kStudy, "A1", "OT", kStudy + ".1", "1", kStudy + ".1.1"},
         {"PID1", "DOE^ANN", kStudy, "A1", "OT", kStudy + ".1", "1", kStudy + ".1.2"}},
        {{"LUMO4410", storePort}});
    const testing::TempDir dir;
    const ProgramResult run =
        testing::RunProgram(LUMO_CLI_PROGRAM,
                            Args("move", node.Port(), "COMMON", storePort,
                                 {"--verify", "--store-dir", dir.Path() + "/kept"}),
                            dir.Path());
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Restant 0 · Terminées 2 · Échecs 0 · Avertissements 0 · Reçues 2\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\nAttendu 2 · Reçues 2\n"), std::string::npos) << run.out;
    EXPECT_EQ(testing::FileNames(dir.Path() + "/kept"),
              (std::vector<std::string>{kStudy + ".1.1.dcm", kStudy + ".1.2.dcm"}));
}

// The test node says it completed more than it sent (exit 3), fails (exit
// 1), or sends slowly until SIGINT cancels it (exit 1, the final status told).
TEST(RetrieveCommandNet, ExitStatusSaysWhatArrived) {
    lumo::testing::TestNode node;
    node.Start();
    const std::uint16_t storePort = lumo::testing::FreePort();
    std::vector<DcmDataset> instances;
    for (const char* n : {"1", "2", "3"})
        instances.push_back(
            lumo::testing::MakeDataSet({{DCM_SOPClassUID, UID_SecondaryCaptureImageStorage},
                                        {DCM_SOPInstanceUID, kStudy + ".1." + n},
                                        {DCM_StudyInstanceUID, kStudy},
                                        {DCM_SeriesInstanceUID, kStudy + ".1"}}));
    const struct Case {
        const char* command;
        std::optional<std::uint16_t> claimed;
        std::uint16_t status;
        bool interrupt;
        int exit;
        std::string said;  // on stdout, or with an interrupt on stderr
    } cases[] = {
        {"get", 4, 0x0000, false, 3, "Il manque 1 images : le nœud en compte 4 terminées"},
        {"move", {}, 0xC000, false, 1, "EDicomStatusError"},
        {"move",
         {},
         0x0000,
         true,
         1,
         "Statut final : FE00 Sub-operations terminated due to Cancel Indication"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exit);
        lumo::testing::RetrieveScript script;
        script.instances = instances;
        script.destination = "LUMO4410";
        script.port = storePort;
        script.claimedCompleted = c.claimed;
        node.SetRetrieve(script);
        node.SetFinalStatus(c.status);
        node.SetResponseDelay(c.interrupt ? 500ms : 0ms);
        node.ClearReceived();
        const testing::TempDir dir;
        ChildProgram child(LUMO_CLI_PROGRAM,
                           Args(c.command, node.Port(), "NORVANEX", storePort, {}), dir.Path());
        if (c.interrupt) {
            ASSERT_TRUE(child.WaitForOut("Reçues 1", 10s)) << child.OutSoFar();
            child.Signal(SIGINT);
        }
        const ProgramResult run = child.Wait(30s);
        EXPECT_EQ(run.exitCode, c.exit) << run.out << run.err;
        EXPECT_NE((c.interrupt ? run.err : run.out).find(c.said), std::string::npos)
            << run.out << run.err;
    }
}

}  // namespace
}  // namespace lumo::app
