// lumo4410-cli's address book: a node kept, then called with --node while
// the options beside it win; an unknown node; an import refused line by
// line. Against the test node, the store in a folder of its own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/ProgramFolder.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app {
namespace {

using lumo::testing::TestNode;
using testing::ProgramResult;
using testing::SplitLines;

ProgramResult Cli(const std::vector<std::string>& args, const testing::ProgramFolder& folder) {
    return testing::RunProgram(LUMO_CLI_PROGRAM, args, folder.Path(), std::chrono::seconds(60));
}

TEST(NodesCommandNet, OptionsBesideANodeWinOverIt) {
    testing::ProgramFolder folder;  // XDG_CONFIG_HOME for the child too
    TestNode node;
    node.Start();
    const std::string port = std::to_string(node.Port());
    const ProgramResult added = Cli(
        {"nodes", "add", "PACS1", "--ip=127.0.0.1", "--port=1", "--aet=WRONG", "--comment=salle 2"},
        folder);
    ASSERT_EQ(added.exitCode, 0) << added.err;
    EXPECT_EQ(added.out,
              "Nœud enregistré : PACS1 : WRONG@127.0.0.1:1 (appelant Lumo4410) — salle 2\n");

    // The book's port and AE title would fail; those given beside it win.
    const ProgramResult echo =
        Cli({"echo", "--node", "pacs1", "--port", port, "--aet=NORVANEX"}, folder);
    EXPECT_EQ(echo.exitCode, 0) << echo.err << echo.out;
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].command, "C-ECHO");
    // A copy under another name, its port changed, and the list of both.
    ASSERT_EQ(Cli({"nodes", "add", "PACS2", "--node=PACS1", "--port", port}, folder).exitCode, 0);
    EXPECT_EQ(
        SplitLines(Cli({"nodes"}, folder).out),
        (std::vector<std::string>{"PACS1 : WRONG@127.0.0.1:1 (appelant Lumo4410) — salle 2",
                                  "PACS2 : WRONG@127.0.0.1:" + port + " (appelant Lumo4410)"}));

    const ProgramResult unknown = Cli({"echo", "--node", "NOPE"}, folder);
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err, "lumo4410-cli: unknown node 'NOPE' (lumo4410-cli nodes lists them)\n");
}

TEST(NodesCommandNet, ABadFileImportsNothingAndNamesItsLines) {
    testing::ProgramFolder folder;
    testing::WriteText(folder.Path() + "/nodes.csv",
                       "name,ip,port,aet,calling-aet,tls,comment\n"
                       "PACS1,10.0.0.5,104,PACS,LUMO4410,0,ok\n"
                       "PACS2,10.0.0.6,0,PACS,LUMO4410,0,\n");

    const ProgramResult import = Cli({"nodes", "import", "nodes.csv"}, folder);

    EXPECT_EQ(import.exitCode, 1);
    EXPECT_EQ(SplitLines(import.err),
              (std::vector<std::string>{
                  "Ligne 3 : port '0' refusé, un nombre entier de 1 à 65535 est attendu",
                  "Aucun nœud importé : 1 ligne(s) refusée(s) dans nodes.csv"}));
    EXPECT_EQ(Cli({"nodes"}, folder).err, "Aucun nœud dans le carnet d'adresses\n");
}

}  // namespace
}  // namespace lumo::app
