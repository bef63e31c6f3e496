// lumo4410-cli echo and probe, --verbose and the connection options,
// against the test node.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/app/FormTestSupport.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app {
namespace {

using lumo::testing::TestNode;
using testing::ProgramResult;
using testing::SplitLines;
using testing::TempDir;

ProgramResult Cli(std::vector<std::string> args, const TestNode& node, const TempDir& dir) {
    args.push_back("--ip=127.0.0.1");
    args.push_back("--port=" + std::to_string(node.Port()));
    return testing::RunProgram(LUMO_CLI_PROGRAM, args, dir.Path(), std::chrono::seconds(60));
}

std::string Peer(const TestNode& node) {
    return "127.0.0.1:" + std::to_string(node.Port()) + " (NORVANEX)";
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(DiagnosticCommandNet, EchoSucceedsOrFailsAsAQueryDoes) {
    TestNode node;
    node.Start();
    TempDir dir;
    const ProgramResult echo = Cli({"echo"}, node, dir);
    EXPECT_EQ(echo.exitCode, 0) << echo.err;
    const std::vector<std::string> lines = SplitLines(echo.out);
    ASSERT_EQ(lines.size(), 3u) << echo.out;
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex("Echo réussi : NORVANEX@127\\.0\\.0\\.1:" +
                                              std::to_string(node.Port()) + " en [0-9]+ ms")))
        << lines[0];
    EXPECT_EQ(lines[1], std::string("Implémentation distante : ") + OFFIS_IMPLEMENTATION_CLASS_UID +
                            " " + OFFIS_DTK_IMPLEMENTATION_VERSION_NAME);
    EXPECT_EQ(lines[2], "PDU max distante : 131072 octets");
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.Received()[0].command, "C-ECHO");

    node.SetRejectAssociation(lumo::testing::RejectReason::CalledAETitleNotRecognized);
    const ProgramResult rejected = Cli({"echo"}, node, dir);
    EXPECT_EQ(rejected.exitCode, 1);
    EXPECT_EQ(SplitLines(rejected.out),
              (std::vector<std::string>{"EDicomAssociationRejected",
                                        "Association rejected by " + Peer(node) +
                                            ": called AE title not recognized — rejet "
                                            "permanent, source : service user"}));
}

// A strict worklist node: the services it turned down together are asked
// one by one, and the worklist's C-FIND tells this AE title is refused.
TEST(DiagnosticCommandNet, ProbeListsEveryServiceThenTheFindChecks) {
    TestNode node;
    node.SetAcceptedSopClasses({lumo::testing::kVerification, lumo::testing::kWorklistFind});
    node.SetRejectUnservedServices(true);
    node.SetFinalStatus(0xA700, "AE title not allowed");
    node.Start();
    TempDir dir;

    const ProgramResult probe = Cli({"probe", "--verbose"}, node, dir);

    EXPECT_EQ(probe.exitCode, 0) << probe.err;
    const std::string rejected =
        " : refusée (association rejetée : rejet permanent, source : service user, raison : no "
        "reason given)";
    EXPECT_EQ(
        SplitLines(probe.out),
        (std::vector<std::string>{
            "Verification : acceptée (Explicit VR Little Endian)",
            "Modality Worklist Information Model – FIND : acceptée (Explicit VR Little Endian)",
            "Patient Root Query/Retrieve Information Model – FIND" + rejected,
            "Study Root Query/Retrieve Information Model – FIND" + rejected,
            "C-FIND Modality Worklist Information Model – FIND : refusé (0 réponse(s), statut "
            "A700 Out of resources, Error Comment : AE title not allowed)"}));
    EXPECT_TRUE(Has(probe.err,
                    "Fin : association rejetée : rejet permanent, source : service "
                    "user, raison : no reason given"))
        << probe.err;
}

TEST(DiagnosticCommandNet, VerboseReportsTheQuerysStatusAndTheSizesAsked) {
    TestNode node;
    node.SetFinalStatus(0xC001, "db closed", DCM_PatientID);
    node.Start();
    TempDir dir;

    const ProgramResult study = Cli({"study", "--verbose", "--max-pdu", "65536"}, node, dir);

    EXPECT_EQ(study.exitCode, 1);
    EXPECT_EQ(SplitLines(study.out),
              (std::vector<std::string>{"EDicomStatusError",
                                        "C-FIND failed with status C001 Unable to process from " +
                                            Peer(node) +
                                            ": db closed ; Offending Element (0000,0901) : "
                                            "(0010,0020)"}));
    for (const char* line :
         {"PDU max : 65536 octets de ce côté, 131072 octets du nœud",
          "Statut final : C001 Unable to process", "Error Comment (0000,0902) : db closed",
          "Offending Element (0000,0901) : (0010,0020)"})
        EXPECT_TRUE(Has(study.err, line)) << line << "\n" << study.err;
}

// What the command line says of a node that misbehaves: a Cancel it was not
// asked for ends a query that ran, a transfer syntax never proposed is the
// node's fault, and control characters from the node or in a file name
// reach the terminal visible, never raw.
TEST(DiagnosticCommandNet, ANodesFaultsAreToldVisibly) {
    const struct {
        std::uint16_t status;
        const char* comment;
        const char* version;  // the node's implementation version name
        const char* syntax;   // the transfer syntax it accepts, proposed or not
        std::vector<std::string> args;
        int exitCode;
        const char *out, *err;  // parts of stdout and stderr
    } cases[] = {
        // clang-format off
        {0xFE00, "", "", nullptr, {"study", "--verbose"}, 0,
         "---------------------\nRéponses interrompues par le nœud après 3 réponses (statut FE00 "
         "non demandé)\n",
         "Réponses interrompues par le nœud après 3 réponses (statut FE00 non demandé) : sans "
         "C-CANCEL de la console"},
        {0, "", "", UID_JPEGProcess1TransferSyntax, {"probe"}, 1,
         "Verification : faute de protocole du nœud : acceptée avec JPEG Baseline", ""},
        {0xC000, "bad\x1B[2Jkey", "\x1B]0;PWN\x07", nullptr, {"study", "--verbose"}, 1,
         "bad<1B>[2Jkey", "<1B>]0;PWN<07>"},
        {0, "", "", nullptr, {"study", "--csv", "no\x1B[2Jdir/out.csv"}, 1, "",
         "no<1B>[2Jdir/out.csv"},
        // clang-format on
    };
    for (const auto& c : cases) {
        TestNode node;
        node.SetSyntheticResponses(3);
        node.SetFinalStatus(c.status, c.comment);
        node.SetImplementationVersionName(c.version);
        node.SetAcceptedTransferSyntax(c.syntax ? std::optional<std::string>(c.syntax)
                                                : std::nullopt);
        node.Start();
        TempDir dir;
        const ProgramResult result = Cli(c.args, node, dir);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_TRUE(Has(result.out, c.out)) << result.out;
        EXPECT_TRUE(Has(result.err, c.err)) << result.err;
        EXPECT_FALSE(Has(result.out + result.err, "\x1B")) << result.out << result.err;
    }
}

TEST(DiagnosticCommandNet, OutOfRangeSettingsAreRefusedBeforeAnythingIsSent) {
    TestNode node;
    node.Start();
    TempDir dir;
    const struct {
        const char* option;
        const char* value;
        const char* message;
    } cases[] = {
        {"--connect-timeout", "0", "Délai de connexion : '0' refusé, un nombre entier de secondes"},
        {"--assoc-timeout", "-5", "Délai d'association : '-5' refusé"},
        {"--response-timeout", "1m", "Délai de réponse : '1m' refusé"},
        {"--max-pdu", "4095",
         "PDU max : '4095' refusé, un nombre entier d'octets de 4096 à 131072"},
        {"--max-pdu", "131073", "PDU max : '131073' refusé"},
    };
    for (const auto& c : cases) {
        const ProgramResult result = Cli({"echo", c.option, c.value}, node, dir);
        EXPECT_EQ(result.exitCode, 2) << c.option << " " << c.value;
        EXPECT_TRUE(Has(result.err, std::string("lumo4410-cli: ") + c.option + ": " + c.message))
            << result.err;
    }
    EXPECT_TRUE(node.Associations().empty());
}

}  // namespace
}  // namespace lumo::app
