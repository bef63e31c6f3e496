#include <gtest/gtest.h>

#include "app/cli/CliOptions.h"
#include "support/Exception.h"

namespace lumo::app {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string UsageError(const std::vector<std::string>& args) {
    try {
        ParseCliOptions(args);
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), "EUsageError");
        return e.Message();
    }
    return "no error";
}

TEST(CliOptionsTest, CommandsPickTheirButton) {
    EXPECT_EQ(ParseCliOptions({"worklist"}).command, CliOptions::Command::Worklist);
    EXPECT_EQ(ParseCliOptions({"study"}).command, CliOptions::Command::Study);
    EXPECT_EQ(ParseCliOptions({"patient"}).command, CliOptions::Command::Patient);
    EXPECT_EQ(ParseCliOptions({"series"}).command, CliOptions::Command::Series);
    EXPECT_EQ(ParseCliOptions({"image"}).command, CliOptions::Command::Image);
    const CliOptions listen = ParseCliOptions({"listen", "104"});
    EXPECT_EQ(listen.command, CliOptions::Command::Listen);
    EXPECT_EQ(listen.listenPort, "104");
}

TEST(CliOptionsTest, OptionsSetFieldsInTheOrderGiven) {
    const CliOptions options =
        ParseCliOptions({"--ip=10.0.0.1", "study", "--port", "4006", "--accession=", "--name",
                         "DOE*", "--save", "--modality=XX", "--calling-aet=A", "--aet=B",
                         "--dossier=P1", "--referring=R", "--date=20260101-20261231",
                         "--birth-date=19600101", "--study-uid=1.2", "--series-uid=1.3"});
    EXPECT_EQ(options.fields, (Fields{{"EditIP", "10.0.0.1"},
                                      {"EditPort", "4006"},
                                      {"EditAccession", ""},
                                      {"EditNomPatient", "DOE*"},
                                      {"cboModalite", "XX"},
                                      {"EditCallingAETitle", "A"},
                                      {"EditAETitle", "B"},
                                      {"EditDossier", "P1"},
                                      {"EditNomMedRef", "R"},
                                      {"EditDate", "20260101-20261231"},
                                      {"EditNaissance", "19600101"},
                                      {"EditStudyUID", "1.2"},
                                      {"EditSeriesUID", "1.3"}}));
    EXPECT_TRUE(options.save);
}

TEST(CliOptionsTest, ValueMayHoldEqualsAndBeEmptyWhenSeparate) {
    const CliOptions options = ParseCliOptions({"patient", "--name=A=B", "--dossier", ""});
    EXPECT_EQ(options.fields, (Fields{{"EditNomPatient", "A=B"}, {"EditDossier", ""}}));
    EXPECT_FALSE(options.save);
}

TEST(CliOptionsTest, NameValueWordsAreKeptAsParameters) {
    const CliOptions options = ParseCliOptions({"logdir=/tmp/x", "study", "SITE=A=B"});
    EXPECT_EQ(options.namedParams, (std::vector<std::string>{"logdir=/tmp/x", "SITE=A=B"}));
    EXPECT_TRUE(options.fields.empty());
}

TEST(CliOptionsTest, HelpAndVersionNeedNoCommand) {
    EXPECT_EQ(ParseCliOptions({"--help"}).command, CliOptions::Command::Help);
    EXPECT_EQ(ParseCliOptions({"--version"}).command, CliOptions::Command::Version);
    EXPECT_EQ(ParseCliOptions({"study", "--version"}).command, CliOptions::Command::Version);
    EXPECT_EQ(ParseCliOptions({"--version", "--help"}).command, CliOptions::Command::Help);
}

TEST(CliOptionsTest, BadUsageSaysWhatIsWrong) {
    EXPECT_EQ(UsageError({}), "no command given");
    EXPECT_EQ(UsageError({"--ip=1.2.3.4"}), "no command given");
    EXPECT_EQ(UsageError({"query"}), "unknown command 'query'");
    EXPECT_EQ(UsageError({"study", "patient"}), "unexpected argument 'patient'");
    EXPECT_EQ(UsageError({"study", "--colour=red"}), "unknown option --colour");
    EXPECT_EQ(UsageError({"study", "--port"}), "option --port needs a value");
    EXPECT_EQ(UsageError({"study", "--save=yes"}), "option --save takes no value");
    EXPECT_EQ(UsageError({"listen"}), "listen needs a port");
    EXPECT_EQ(UsageError({"Study"}), "unknown command 'Study'");
    EXPECT_EQ(UsageError({"study", "--tls=yes"}), "option --tls takes on or off");
    EXPECT_NE(UsageError({"study", "--max-results=-1"}).find("Max. réponses : '-1' refusé"),
              std::string::npos);
    EXPECT_EQ(UsageError({"listen", "0", "--max-relayed-queries=0"}),
              "--max-relayed-queries: Requêtes relayées max. : '0' refusé, un nombre entier de "
              "requêtes de 1 à 256 est attendu");
    EXPECT_EQ(ParseCliOptions({"listen", "0", "--max-associations-per-address", "2"}).listenBounds,
              (std::vector<std::pair<ConnectionSetting, std::uint32_t>>{
                  {ConnectionSetting::MaxAssociationsPerAddress, 2}}));
    EXPECT_EQ(UsageError({"get"}), "get needs a level: patient, study, series or image");
    EXPECT_EQ(UsageError({"move", "worklist"}),
              "move needs a level: patient, study, series or image, not 'worklist'");
    EXPECT_EQ(UsageError({"move", "patient", "--study-uid=1.2"}),
              "move patient needs --dossier (Patient ID)");
    EXPECT_EQ(UsageError({"get", "series", "--study-uid=1.2", "--series-uid=\\"}),
              "get series needs --series-uid (Series Instance UID)");
    EXPECT_EQ(UsageError({"move", "image", "--study-uid=1", "--series-uid=2"}),
              "move image needs --sop-uid (SOP Instance UID)");
    EXPECT_EQ(UsageError({"move", "study", "--study-uid=1", "--store-port=70000"}),
              "--store-port: '70000' refused, a port from 1 to 65535 is expected");
}

TEST(CliOptionsTest, RetrievalSetsItsLevelAndOptions) {
    const CliOptions options = ParseCliOptions({"get", "image", "--study-uid=1", "--series-uid=2",
                                                "--sop-uid=3\\4", "--verify", "--move-dest=DEST",
                                                "--store-port=4000", "--store-dir=/tmp/x"});
    EXPECT_EQ(options.command, CliOptions::Command::Get);
    EXPECT_EQ(options.fields, (Fields{{"cboRetrieveLevel", "image"},
                                      {"EditStudyUID", "1"},
                                      {"EditSeriesUID", "2"},
                                      {"EditSOPInstanceUID", "3\\4"},
                                      {"cbVerify", "1"},
                                      {"EditMoveDest", "DEST"},
                                      {"EditStorePort", "4000"},
                                      {"EditStoreFolder", "/tmp/x"}}));
}

// --tls alone turns TLS on; with a value it may also turn a stored one off.
TEST(CliOptionsTest, TlsMayBeTurnedOnOrOff) {
    EXPECT_EQ(
        ParseCliOptions({"study", "--tls", "--tls=off", "--tls=on", "--max-results=5"}).fields,
        (Fields{{"cbTLS", "1"}, {"cbTLS", "0"}, {"cbTLS", "1"}, {"EditMaxResults", "5"}}));
}

TEST(CliOptionsTest, UsageNamesEveryCommandAndOption) {
    const std::string usage = CliUsage();
    for (const char* word :
         {"worklist",      "study",       "patient", "series",       "image",       "listen PORT",
          "--calling-aet", "--ip",        "--port",  "--aet",        "--accession", "--dossier",
          "--name",        "--referring", "--date",  "--birth-date", "--study-uid", "--series-uid",
          "--modality",    "--save",      "--help",  "--version"}) {
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    }
}

}  // namespace
}  // namespace lumo::app
