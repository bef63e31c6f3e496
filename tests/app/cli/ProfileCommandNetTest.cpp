// The profile command of lumo4410-cli: the profile on stdout, saved as
// JSON, and compared with an earlier one (exit 0 when nothing changed, 3
// when something did, 1 when the node cannot be profiled).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/TestNode.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::TestNode;
using testing::ProgramResult;

bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(ProfileCommandNet, SavesComparesAndExitsWithWhatChanged) {
    testing::ProgramFolder folder;
    TestNode node;
    node.SetEntries(lumo::testing::SampleInstances(), lumo::testing::SampleWorklist());
    node.Start();
    const auto profile = [&](std::vector<std::string> more) {
        std::vector<std::string> args{"profile", "--ip=127.0.0.1",
                                      "--port=" + std::to_string(node.Port()), "--aet=NORVANEX"};
        args.insert(args.end(), more.begin(), more.end());
        return testing::RunProgram(LUMO_CLI_PROGRAM, args, folder.Path(),
                                   std::chrono::seconds(120));
    };

    const ProgramResult first = profile({"--json=before.json", "--verbose"});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_TRUE(Holds(first.out, "== Étude ==\nEntrées trouvées : trouvées (4) — C-FIND STUDY"));
    EXPECT_TRUE(Holds(first.out, "    (0010,0010) PatientName = \"LUMOZZ^PROFIL\"\n"));

    const ProgramResult same = profile({"--against=before.json", "--repeat=3"});
    EXPECT_EQ(same.exitCode, 0) << same.err;
    EXPECT_TRUE(Holds(same.out, "== Changements depuis before.json ==\nAucun changement\n"));
    EXPECT_TRUE(Holds(same.out, " mesures sur 3 essais)"));

    lumo::testing::MatchingRules capAt2;
    capAt2.cap = 2;
    node.SetMatchingRules(capAt2);
    const ProgramResult capped = profile({"--against=before.json"});
    EXPECT_EQ(capped.exitCode, 3) << capped.err;
    EXPECT_TRUE(Holds(capped.out,
                      "[Étude] Limite de réponses : « pas de limite » → « limite à 2, "
                      "silencieuse » (3 en deux moitiés par StudyDate"));

    lumo::testing::WriteFile(folder.Path() + "/broken.json", "{\"format\": \"autre\"}");
    const std::size_t received = node.ReceivedCount();
    const ProgramResult broken = profile({"--against=broken.json"});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_EQ(broken.err,
              "lumo4410-cli: broken.json : Profil illisible : format attendu "
              "« lumo4410-profile/1 »\n");
    EXPECT_EQ(node.ReceivedCount(), received);  // nothing sent for a file that is no profile

    const ProgramResult unreachable = testing::RunProgram(
        LUMO_CLI_PROGRAM, {"profile", "--ip=127.0.0.1", "--port=" + testing::UnusedPort()},
        folder.Path(), std::chrono::seconds(60));
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_TRUE(Holds(unreachable.out, "Profil impossible : Cannot connect to 127.0.0.1:"));
}

TEST(ProfileCommandNet, NodeThatAbortsEveryQueryIsNotProfiled) {
    testing::ProgramFolder folder;
    TestNode node;
    node.SetAbortAfter(0);
    node.Start();
    const ProgramResult aborted = testing::RunProgram(
        LUMO_CLI_PROGRAM, {"profile", "--ip=127.0.0.1", "--port=" + std::to_string(node.Port())},
        folder.Path(), std::chrono::seconds(60));
    EXPECT_EQ(aborted.exitCode, 1) << aborted.out;
    EXPECT_TRUE(Holds(aborted.out,
                      "Profil impossible : le nœud accepte l'association mais n'a répondu à "
                      "aucun C-FIND ("))
        << aborted.out;
}

}  // namespace
}  // namespace lumo::app
