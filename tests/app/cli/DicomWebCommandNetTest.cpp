// lumo4410-cli over DICOMweb against Debian's Orthanc with its DICOMweb
// plugin, over HTTPS with Basic authentication: the same listings as its
// C-FIND answers, the same comparison, and authentication and trust told in
// words.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TlsFiles.h"

namespace lumo::app {
namespace {

using lumo::testing::Instance;
using Lines = std::vector<std::string>;

constexpr const char* kPassword = "w3b-s3cret";

Instance Image(const char* study, const char* name, const char* modality, const char* series,
               const char* image) {
    const std::string root = "1.2.826.0.1.3680043.9.7433.10.";
    return Instance{std::string("P") + study,
                    name,
                    root + study,
                    std::string("A") + study,
                    modality,
                    root + study + "." + series,
                    series,
                    root + study + "." + series + "." + image};
}

class DicomWebCommandNet : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        files_ = std::make_unique<lumo::testing::TlsFiles>();
        server_ = std::make_unique<lumo::testing::OrthancWebServer>(
            std::vector<Instance>{Image("1", "DOE^JOHN", "CT", "1", "1"),
                                  Image("1", "DOE^JOHN", "CT", "1", "2"),
                                  Image("2", "ROE^JANE", "MR", "1", "1")},
            lumo::testing::OrthancWebServer::Options{"alice", kPassword, files_->Cert("node"),
                                                     files_->Key("node")});
    }
    void SetUp() override { ::setenv("LUMO4410_HTTP_PASSWORD", kPassword, 1); }
    void TearDown() override { ::unsetenv("LUMO4410_HTTP_PASSWORD"); }

    // The command with the node's address, its DICOMweb service's trust and
    // user, and no date.
    testing::ProgramResult Run(Lines args) {
        const Lines node = {"--ip=127.0.0.1", "--port=" + std::to_string(server_->Port()),
                            "--aet=ORTHANC",  "--date=",
                            "--tls-ca",       files_->Ca(),
                            "--http-user",    "alice"};
        args.insert(args.begin() + (args[0] == "compare" ? 2 : 1), node.begin(), node.end());
        return testing::RunProgram(LUMO_CLI_PROGRAM, args, folder_.Path());
    }
    std::string Url() const { return server_->BaseUrl(); }

    testing::ProgramFolder folder_;
    static std::unique_ptr<lumo::testing::TlsFiles> files_;
    static std::unique_ptr<lumo::testing::OrthancWebServer> server_;
};
std::unique_ptr<lumo::testing::TlsFiles> DicomWebCommandNet::files_;
std::unique_ptr<lumo::testing::OrthancWebServer> DicomWebCommandNet::server_;

// The blocks of a listing, in order of their text: the two transports may
// list the same answers in another order.
Lines Blocks(const std::string& out) {
    Lines blocks(1);
    for (const std::string& line : testing::SplitLines(out)) {
        blocks.back() += line + "\n";
        if (line == "---------------------") blocks.emplace_back();
    }
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

TEST_F(DicomWebCommandNet, ListingsOverQidoRsAreThoseOfCFind) {
    for (const char* kind : {"study", "series", "image"}) {
        SCOPED_TRACE(kind);
        const auto dimse = Run({kind, "--dicomweb="});
        const auto web = Run({kind, "--dicomweb", Url()});
        ASSERT_EQ(dimse.exitCode, 0) << dimse.err;
        ASSERT_EQ(web.exitCode, 0) << web.err;
        EXPECT_EQ(Blocks(web.out), Blocks(dimse.out));
        EXPECT_NE(web.out.find("Patient: DOE^JOHN\n"), std::string::npos) << web.out;
    }
    const auto compared = Run({"compare", "series", "--dicomweb2", Url()});
    EXPECT_EQ(compared.exitCode, 0) << compared.out << compared.err;
    EXPECT_NE(compared.out.find("Appariées : 2\n"), std::string::npos) << compared.out;
}

TEST_F(DicomWebCommandNet, AuthenticationIsAskedForAndChecked) {
    const auto wrong = [&](Lines args) {
        ::setenv("LUMO4410_HTTP_PASSWORD", "wrong", 1);
        return Run(std::move(args));
    };
    const struct {
        testing::ProgramResult result;
        std::string part;  // of stderr
    } cases[] = {
        {Run({"study", "--dicomweb", Url(), "--http-user="}),
         "failed: HTTP 401 Unauthorized; the service requires authentication (it asks for Basic "
         "realm=\"Orthanc Secure Area\"): give the user with --http-user"},
        {wrong({"echo", "--dicomweb", Url(), "--verbose"}),
         "failed: HTTP 401 Unauthorized; the service refuses the user alice with the password of "
         "LUMO4410_HTTP_PASSWORD (it asks for Basic realm=\"Orthanc Secure Area\")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result.exitCode, 1);
        EXPECT_NE((c.result.out + c.result.err).find(c.part), std::string::npos)
            << c.result.out << c.result.err;
        EXPECT_EQ((c.result.out + c.result.err).find("wrong"), std::string::npos);
    }
    ::setenv("LUMO4410_HTTP_PASSWORD", kPassword, 1);
    const auto probe = Run({"probe", "--dicomweb", Url()});
    EXPECT_EQ(probe.exitCode, 0) << probe.err;
    const Lines lines = testing::SplitLines(probe.out);
    ASSERT_EQ(lines.size(), 5u) << probe.out;
    EXPECT_EQ(lines[0],
              "Sans authentification : HTTP 401 Unauthorized, le service demande Basic "
              "realm=\"Orthanc Secure Area\"");
    EXPECT_EQ(lines[1], "Authentification montrée : Basic (alice)");
}

TEST_F(DicomWebCommandNet, HttpsIsCheckedAsDicomOverTls) {
    const auto untrusted = Run({"study", "--dicomweb", Url(), "--tls-ca="});
    EXPECT_EQ(untrusted.exitCode, 1);
    EXPECT_NE(untrusted.out.find("Cannot connect to " + Url() +
                                 ": the node's certificate (CN=node, issued by CN=Lumo4410 test "
                                 "ca) is not trusted: add its issuer's certificate to the "
                                 "trusted certificates (--tls-ca)"),
              std::string::npos)
        << untrusted.out;
    const auto echo = Run({"echo", "--dicomweb", Url(), "--verbose"});
    EXPECT_EQ(echo.exitCode, 0) << echo.out << echo.err;
    EXPECT_NE(echo.err.find("\nTLS : TLSv1."), std::string::npos) << echo.err;
    EXPECT_NE(echo.err.find("\n  certificat distant : CN=node\n"), std::string::npos);
}

TEST_F(DicomWebCommandNet, ProfileRunsOverQidoRs) {
    const auto profile = Run({"profile", "--dicomweb", Url()});
    EXPECT_EQ(profile.exitCode, 0) << profile.out << profile.err;
    for (const std::string& part :
         {"Profil de " + Url() + " (DICOMweb, ",
          std::string("Authentification demandée : demandée (Basic realm=\"Orthanc Secure "
                      "Area\")"),
          std::string("\nClé non latine envoyée en UTF-8 (URL QIDO-RS) : conforme — QIDO-RS "
                      "STUDY "),
          std::string("\nPoignée de main TLS : médiane ")})
        EXPECT_NE(profile.out.find(part), std::string::npos) << part << "\n" << profile.out;
    EXPECT_EQ(profile.out.find("Association acceptée"), std::string::npos);

    const auto nobody =
        Run({"profile", "--dicomweb", "http://127.0.0.1:" + testing::UnusedPort() + "/dicom-web"});
    EXPECT_EQ(nobody.exitCode, 1);
    EXPECT_NE(nobody.out.find("Profil impossible : Cannot connect to http://127.0.0.1:"),
              std::string::npos)
        << nobody.out;
}

TEST_F(DicomWebCommandNet, WorklistAndPatientHaveNoSearchAndAreBadUsage) {
    for (const char* command : {"worklist", "patient", "check"}) {
        SCOPED_TRACE(command);
        const auto refused = Run({command, "--dicomweb", Url()});
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.err.find("n'a pas de recherche QIDO-RS en DICOMweb"), std::string::npos)
            << refused.err;
    }
}

// libcurl is loaded on the first DICOMweb use: one that cannot be loaded
// fails the query with what to install, and is no usage error.
TEST_F(DicomWebCommandNet, WithoutLibcurlTheQueryFailsAndSaysWhatToInstall) {
    const std::string broken = folder_.Path() + "/lib";
    ASSERT_EQ(::mkdir(broken.c_str(), 0700), 0);
    lumo::testing::WriteFile(broken + "/libcurl.so.4", "not a library");
    const auto run = testing::RunProgram(
        "/usr/bin/env",
        {"LD_LIBRARY_PATH=" + broken, LUMO_CLI_PROGRAM, "study", "--dicomweb", Url()},
        folder_.Path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("DICOMweb impossible : libcurl.so.4 ne se charge pas ("),
              std::string::npos)
        << run.out << run.err;
    EXPECT_NE(run.out.find(") : installer libcurl4"), std::string::npos);
}

}  // namespace
}  // namespace lumo::app
