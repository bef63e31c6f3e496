// lumo4410-cli over DICOM TLS against Orthanc: echo with its report, and the
// relay speaking TLS to its caller (dcmtk's findscu) and to its node.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"
#include "tests/app/cli/RunProgram.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TlsFiles.h"

namespace lumo::app {
namespace {

using Lines = std::vector<std::string>;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The words of `text` (no word here holds a blank).
Lines Words(const std::string& text) {
    std::istringstream in(text);
    return Lines(std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
}

// Debian's Orthanc as AE title ORTHANC, DICOM over TLS only with the node
// certificate, requiring a caller's certificate of the test CA; it answers
// worklist queries (from an empty list) from any AE title.
std::unique_ptr<lumo::testing::ChildProcess> StartTlsOrthanc(const lumo::testing::TlsFiles& files,
                                                             const testing::TempDir& dir,
                                                             std::uint16_t& port) {
    std::filesystem::create_directory(dir.Path() + "/worklists");
    return lumo::testing::StartServer(
        [&](std::uint16_t p) {
            lumo::testing::WriteFile(
                dir.Path() + "/orthanc.json",
                R"({"StorageDirectory": ")" + dir.Path() + R"(/db", "HttpServerEnabled": false,
                "DicomAet": "ORTHANC", "DicomPort": )" +
                    std::to_string(p) + R"(,
                "Plugins": ["/usr/share/orthanc/plugins/libModalityWorklists.so"],
                "Worklists": {"Enable": true, "Database": ")" +
                    dir.Path() + R"(/worklists"},
                "DicomAlwaysAllowFindWorklist": true, "DicomTlsEnabled": true,
                "DicomTlsCertificate": ")" +
                    files.Cert("node") + R"(", "DicomTlsPrivateKey": ")" + files.Key("node") +
                    R"(", "DicomTlsTrustedCertificates": ")" + files.Ca() + R"("})");
            return std::vector<std::string>{"Orthanc", dir.Path() + "/orthanc.json"};
        },
        port);
}

TEST(TlsCommandNet, EchoReportsTlsAndTheRelaySpeaksTlsOnEachSide) {
    lumo::testing::TlsFiles files;
    testing::TempDir dir;
    std::uint16_t orthanc = 0;
    const auto server = StartTlsOrthanc(files, dir, orthanc);
    const std::string node = " --ip 127.0.0.1 --port " + std::to_string(orthanc) +
                             " --aet ORTHANC --tls --tls-ca " + files.Ca() + " --tls-cert " +
                             files.Cert("client") + " --tls-key " + files.Key("client");
    testing::ProgramFolder folder;

    const testing::ProgramResult echo =
        testing::RunProgram(LUMO_CLI_PROGRAM, Words("echo --verbose" + node), folder.Path());
    EXPECT_EQ(echo.exitCode, 0) << echo.err;
    EXPECT_TRUE(std::regex_search(echo.err, std::regex("\nTLS : TLSv1\\.[23], TLS_[A-Z0-9_]+\n")))
        << echo.err;
    EXPECT_TRUE(Has(echo.err, "  certificat distant : CN=node\n  émis par : CN=Lumo4410 test ca"))
        << echo.err;

    // findscu +tls calls the relay listening over TLS, which queries Orthanc
    // over TLS: the node's end reaches the caller.
    testing::ChildProgram relay(
        LUMO_CLI_PROGRAM,
        Words("listen 0 --listen-tls --listen-cert " + files.Cert("node") + " --listen-key " +
              files.Key("node") + " --listen-ca " + files.Ca() + node),
        folder.Path());
    ASSERT_TRUE(relay.WaitForErr("Écoute sur le port ", std::chrono::seconds(30)))
        << relay.ErrSoFar();
    std::smatch port;
    const std::string err = relay.ErrSoFar();
    ASSERT_TRUE(std::regex_search(err, port, std::regex("Écoute sur le port ([0-9]+)")));
    std::string output;
    const int found = lumo::testing::RunProgram(
        Words("findscu -v -W -aet MODALITY1 -aec RELAY -to 20 -ta 20 -td 30 +tls " +
              files.Key("client") + " " + files.Cert("client") + " +cf " + files.Ca() +
              " -k 0008,0050= 127.0.0.1 " + port[1].str()),
        &output);
    relay.Signal(SIGTERM);
    EXPECT_EQ(found, 0) << output;
    EXPECT_TRUE(Has(output, "Received Final Find Response (Success)"))
        << output << relay.Wait(std::chrono::seconds(30)).err;
}

}  // namespace
}  // namespace lumo::app
