// A query of lumo4410-cli cut short: by --max-results, or by SIGINT while a
// slow node answers. Either way the node gets one C-CANCEL-RQ for the
// request, what came before is listed, and the last line says why it ended.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "tests/app/FormTestSupport.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app {
namespace {

using namespace std::chrono_literals;
using lumo::testing::TestNode;
using testing::ChildProgram;
using testing::ProgramResult;
using testing::SplitLines;
using testing::TempDir;

std::vector<std::string> StudyArgs(const TestNode& node, std::vector<std::string> more) {
    std::vector<std::string> args{"study", "--ip=127.0.0.1",
                                  "--port=" + std::to_string(node.Port()), "--date="};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

long Blocks(const std::vector<std::string>& lines) {
    return std::count(lines.begin(), lines.end(), "---------------------");
}

// A node sending one response every 50 ms, that honours a cancel.
class CliStopNet : public ::testing::Test {
  protected:
    void SetUp() override {
        node.SetSyntheticResponses(200);
        node.SetResponseDelay(50ms);
        node.Start();
    }
    void ExpectOneCancelForTheRequest() {
        ASSERT_TRUE(node.WaitForAssociationsEnded(1, 10s));
        ASSERT_EQ(node.ReceivedCount(), 1u);
        EXPECT_EQ(node.CancelsReceived(), std::vector<std::uint16_t>{node.Received()[0].messageID});
    }

    TestNode node;
    TempDir dir;
};

TEST_F(CliStopNet, MaxResultsListsExactlyThatManyAndSucceeds) {
    const ProgramResult run =
        testing::RunProgram(LUMO_CLI_PROGRAM, StudyArgs(node, {"--max-results", "5"}), dir.Path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = SplitLines(run.out);
    EXPECT_EQ(Blocks(lines), 5) << run.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Limite de 5 réponses atteinte : requête annulée");
    ExpectOneCancelForTheRequest();
}

// The listing is printed and the exports written as the responses come,
// not held to the end; a query that does not run to its end leaves no
// export behind, not even a part.
TEST_F(CliStopNet, BlocksArePrintedWhileTheNodeStillAnswers) {
    ChildProgram child(LUMO_CLI_PROGRAM, StudyArgs(node, {"--json=a.json", "--csv=a.csv"}),
                       dir.Path());
    EXPECT_TRUE(child.WaitForOut("---------------------", 8s));
    EXPECT_FALSE(node.WaitForResponsesSent(200, 0ms));
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(10s).exitCode, 1);
    EXPECT_EQ(testing::FileNames(dir.Path()),
              (std::vector<std::string>{".child-stderr", ".child-stdout"}));
}

TEST_F(CliStopNet, SigintCancelsTheQueryAndFails) {
    ChildProgram child(LUMO_CLI_PROGRAM, StudyArgs(node, {}), dir.Path());
    ASSERT_TRUE(node.WaitForResponsesSent(3, 10s));
    child.Signal(SIGINT);
    const ProgramResult run = child.Wait(10s);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::vector<std::string> lines = SplitLines(run.out);
    ASSERT_FALSE(lines.empty());
    std::smatch match;
    ASSERT_TRUE(
        std::regex_match(lines.back(), match, std::regex("Annulée après ([0-9]+) réponses")))
        << run.out;
    EXPECT_EQ(Blocks(lines), std::stol(match[1])) << run.out;
    // The third may still be on its way when the signal comes.
    EXPECT_GE(Blocks(lines), 1);
    EXPECT_LT(Blocks(lines), 200);
    EXPECT_NE(run.err.find("Statut final : FE00"), std::string::npos) << run.err;
    ExpectOneCancelForTheRequest();
}

}  // namespace
}  // namespace lumo::app
