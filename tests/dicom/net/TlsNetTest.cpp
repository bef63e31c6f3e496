// DICOM over TLS against real peers: dcmtk's storescp (an echo peer whose
// certificate and demands each case chooses), a silent node, and the
// listener as the node of a query stopped over TLS (Orthanc over TLS is
// queried in tests/app/cli). Certificates are made by openssl.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "dicom/listener/DicomViewer.h"
#include "dicom/listener/EventLoopDispatcher.h"
#include "dicom/net/NodeChecks.h"
#include "tests/dicom/QueryTestHelpers.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TestNode.h"
#include "tests/fixtures/TlsFiles.h"

namespace lumo::dicom {
namespace {

using namespace std::chrono_literals;
using lumo::testing::TlsFiles;

DicomPeer TlsPeer(std::uint16_t port, const std::string& called, const TlsFiles& files) {
    DicomPeer peer;
    peer.address = "127.0.0.1";
    peer.port = port;
    peer.calledAETitle = called;
    peer.callingAETitle = "Lumo4410";
    peer.timeouts = testing::ShortTimeouts();
    peer.tls.enabled = true;
    peer.tls.trusted = files.Ca();
    peer.tls.certificateFile = files.Cert("client");
    peer.tls.privateKeyFile = files.Key("client");
    return peer;
}

std::string EchoFailure(const DicomPeer& peer) {
    try {
        AssociationReport report;
        DicomEcho(peer, report);
    } catch (const Exception& e) {
        return e.ClassName() + ": " + e.Message();
    }
    return "no error";
}

// One way TLS goes: storescp's certificate (none: plain DICOM) and whether
// it wants ours, what we change of TlsPeer's settings, the key's password
// in the environment, and how the echo's error starts ("<peer>", "<dir>").
struct TlsFailureCase {
    const char* name;
    const char* nodeCert;
    bool nodeWantsOurs;
    std::function<void(DicomTls&, const TlsFiles&)> ours;
    const char* password;
    const char* message;
};

const auto kSame = [](DicomTls&, const TlsFiles&) {};
const auto kUse = [](const char* cert, const char* key) {
    return [=](DicomTls& tls, const TlsFiles& files) {
        tls.certificateFile = *cert ? files.Cert(cert) : "";
        tls.privateKeyFile = *key ? files.Key(key) : "";
    };
};

const TlsFailureCase kFailures[] = {
    {"NoneWhenAllIsWell", "node", true, kSame, nullptr, "no error"},
    {"TlsToAPlainPort", nullptr, false, kSame, nullptr,
     "EDicomNetworkError: No association with <peer>: the node closed the connection during the "
     "TLS handshake: is this port a TLS port, and does the node take this TLS profile "
     "(bcp195-nd)?"},
    {"PlainToATlsPort", "node", false, [](DicomTls& tls, const TlsFiles&) { tls.enabled = false; },
     nullptr,
     "EDicomNetworkError: No association with <peer>: the node reset the connection without "
     "answering: if this port takes DICOM over TLS, use --tls"},
    {"NodeNotTrusted", "selfsigned", false, kSame, nullptr,
     "EDicomNetworkError: No association with <peer>: the node's certificate (CN=selfsigned, "
     "issued by CN=selfsigned) is not trusted: add its issuer's certificate to the trusted "
     "certificates (--tls-ca), or do not verify it (--tls-verify ignore)"},
    {"NodeCertificateExpired", "expired", false, kSame, nullptr,
     "EDicomNetworkError: No association with <peer>: the node's certificate (CN=expired) expired "
     "on 20"},
    {"NodeCertificateForAnotherName", "othername", false, kSame, nullptr,
     "EDicomNetworkError: No association with <peer>: the node's certificate (CN=othername) is "
     "issued for other.example, not for 127.0.0.1"},
    {"NodeWantsACertificateWeDoNotHave", "node", true, kUse("", ""), nullptr,
     "EDicomNetworkError: No association with <peer>: the node requires a client certificate: "
     "give one with --tls-cert and --tls-key"},
    {"NodeDoesNotTrustOurs", "node", true, kUse("stranger", "stranger"), nullptr,
     "EDicomNetworkError: No association with <peer>: the node does not accept our certificate "
     "(<dir>/stranger.pem): its TLS alert says \""},
    {"KeyOfAnotherCertificate", "node", false, kUse("client", "node"), nullptr,
     "EDicomError: Cannot prepare TLS for <peer>: the private key <dir>/node.key does not match "
     "the certificate <dir>/client.pem"},
    {"EncryptedKeyWithoutPassword", "node", false, kUse("encrypted", "encrypted"), nullptr,
     "EDicomError: Cannot prepare TLS for <peer>: the private key <dir>/encrypted.key is "
     "encrypted: put its password in the environment variable LUMO4410_TLS_KEY_PASSWORD"},
    {"EncryptedKeyWithAWrongPassword", "node", false, kUse("encrypted", "encrypted"), "wrong",
     "EDicomError: Cannot prepare TLS for <peer>: the password in LUMO4410_TLS_KEY_PASSWORD does "
     "not open the private key <dir>/encrypted.key"},
    {"MissingFile", "node", false,
     [](DicomTls& tls, const TlsFiles& files) { tls.trusted = files.Folder() + "/none.pem"; },
     nullptr,
     "EDicomError: Cannot prepare TLS for <peer>: the file of trusted certificates "
     "<dir>/none.pem does not exist"},
    // Files that would hold the console in their open for ever, or fill its memory.
    {"KeyThatIsANamedPipe", "node", false,
     [](DicomTls& tls, const TlsFiles& files) {
         tls.privateKeyFile = files.Folder() + "/pipe.key";
         ::mkfifo(tls.privateKeyFile.c_str(), 0600);
     },
     nullptr,
     "EDicomError: Cannot prepare TLS for <peer>: the private key <dir>/pipe.key is not a "
     "regular file"},
    {"TrustedCertificatesFromAnEndlessDevice", "node", false,
     [](DicomTls& tls, const TlsFiles&) { tls.trusted = "/dev/zero"; }, nullptr,
     "EDicomError: Cannot prepare TLS for <peer>: the file of trusted certificates /dev/zero is "
     "not a regular file"},
    {"CertificateTooLarge", "node", false,
     [](DicomTls& tls, const TlsFiles& files) {
         tls.certificateFile = files.Folder() + "/huge.pem";
         std::ofstream(tls.certificateFile).close();
         ::truncate(tls.certificateFile.c_str(), 17 << 20);
     },
     nullptr,
     "EDicomError: Cannot prepare TLS for <peer>: the certificate <dir>/huge.pem is too large "
     "(over 16 MiB)"},
};

class TlsFailureNet : public ::testing::TestWithParam<TlsFailureCase> {};

TEST_P(TlsFailureNet, SaysWhatToDo) {
    const TlsFailureCase& c = GetParam();
    TlsFiles files;
    lumo::testing::TempDir out{"lumo-storescp"};
    std::uint16_t port = 0;
    const auto server = lumo::testing::StartServer(
        [&](std::uint16_t p) {
            std::vector<std::string> command{"storescp", "-od", out.Path(), std::to_string(p)};
            if (c.nodeCert != nullptr)
                command.insert(command.begin() + 1,
                               {"+tls", files.Key(c.nodeCert), files.Cert(c.nodeCert), "+cf",
                                files.Ca(), c.nodeWantsOurs ? "-rc" : "-ic"});
            return command;
        },
        port);
    DicomPeer peer = TlsPeer(port, "STORESCP", files);
    c.ours(peer.tls, files);
    if (c.password != nullptr) ::setenv(kTlsKeyPasswordVariable, c.password, 1);

    const std::string failure = EchoFailure(peer);

    ::unsetenv(kTlsKeyPasswordVariable);
    const std::string expected =
        std::regex_replace(std::regex_replace(c.message, std::regex("<peer>"), peer.Text()),
                           std::regex("<dir>"), files.Folder());
    EXPECT_EQ(failure.substr(0, expected.size()), expected) << failure;
}

INSTANTIATE_TEST_SUITE_P(EveryCause, TlsFailureNet, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// A node that takes the connection and never answers the handshake is
// given up at the association timeout.
TEST(TlsNet, AHandshakeThatNeverEndsIsBoundedByTheAssociationTimeout) {
    TlsFiles files;
    lumo::testing::TestNode node;
    node.SetSilent(lumo::testing::Silence::BeforeAssociation);
    node.Start();
    DicomPeer peer = TlsPeer(node.Port(), "NORVANEX", files);
    peer.timeouts.association = 1s;
    EXPECT_EQ(EchoFailure(peer), "EDicomNetworkError: No association with " + peer.Text() +
                                     ": no TLS handshake with the node within 1 s: is this port a "
                                     "TLS port?");
}

// A stop goes out as a C-CANCEL-RQ inside the TLS stream: the node (the
// listener over TLS, its events on this thread) reads it as its next
// message and the association is released in good order.
TEST(TlsNet, AQueryStoppedOverTlsSendsItsCancelThroughTls) {
    TlsFiles files;
    EventLoopDispatcher dispatcher;
    DicomViewer viewer{dispatcher};
    DicomTls tls = TlsPeer(0, "", files).tls;
    tls.certificateFile = files.Cert("node");
    tls.privateKeyFile = files.Key("node");
    viewer.SetTls(tls);
    ASSERT_TRUE(viewer.ViewerListen(0));
    viewer.OnQueryRequest = [](DicomViewer&, DicomConnection& connection) {
        DicomDataSet response;
        response.DataSetAttributes().AttributesAdd(0x0010, 0x0020, Variant("P1"));
        DicomDataSets responses;
        responses.DataSetsAppend(response);
        connection.ConnectionSendResponses(responses, 0xFF00);
        std::this_thread::sleep_for(300ms);  // the stop and its cancel come meanwhile
        connection.ConnectionSendResponses(responses, 0xFF00);
        connection.ConnectionSendStatus(0xFE00);
    };
    DicomQuery query =
        testing::MakeQuery(static_cast<std::uint16_t>(viewer.ListeningPort()), "STUDY", "LUMO");
    query.SetTls(TlsPeer(0, "", files).tls);
    std::optional<DicomFindResult> result;
    std::atomic<bool> done = false;
    std::thread caller([&] {
        std::stop_source stop;
        try {
            result = query.QueryFind(
                testing::StudyIdentifier(), [&](const DicomDataSet&) { stop.request_stop(); },
                stop.get_token());
        } catch (const Exception&) {  // no result: the assertion below fails
        }
        done = true;
        dispatcher.Post([] {});
    });
    dispatcher.RunUntil([&] { return done.load(); });
    caller.join();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->cancel, CancelReason::Stop);
    EXPECT_EQ(result->responses.DataSetsCount(), 1);
    EXPECT_EQ(result->status, 0xFE00);
    EXPECT_TRUE(query.QueryLastReport().released);
}

}  // namespace
}  // namespace lumo::dicom
