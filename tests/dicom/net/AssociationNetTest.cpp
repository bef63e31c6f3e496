// The association layer against the test node scripted to reject, abort,
// hang up and refuse services: the report holds what the node did, the
// error says it, and the probe learns every service however the node
// answers.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dicom/net/DicomNames.h"
#include "dicom/net/DicomQuery.h"
#include "dicom/net/NodeChecks.h"
#include "tests/dicom/QueryTestHelpers.h"
#include "tests/fixtures/TestNode.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::dicom {
namespace {

using lumo::testing::AbortFields;
using lumo::testing::HangUp;
using lumo::testing::RejectReason;
using lumo::testing::TestNode;

DicomPeer PeerOf(const TestNode& node) {
    DicomPeer peer;
    peer.address = "127.0.0.1";
    peer.port = node.Port();
    peer.calledAETitle = node.AETitle();
    peer.callingAETitle = "Lumo4410";
    peer.timeouts = testing::ShortTimeouts();
    return peer;
}

std::string EchoFailure(const DicomPeer& peer, AssociationReport& report) {
    try {
        DicomEcho(peer, report);
    } catch (const Exception& e) {
        return e.ClassName() + ": " + e.what();
    }
    return "no error";
}

TEST(AssociationNet, EveryRejectionIsDecodedWhateverItsSource) {
    const struct {
        RejectReason reason;
        AssociationRejection fields;
        const char* source;
        const char* text;
    } cases[] = {
        {RejectReason::NoReason, {1, 1, 1}, "service user", "no reason given"},
        {RejectReason::ApplicationContextNotSupported,
         {1, 1, 2},
         "service user",
         "application context name not supported"},
        {RejectReason::CallingAETitleNotRecognized,
         {1, 1, 3},
         "service user",
         "calling AE title not recognized"},
        {RejectReason::CalledAETitleNotRecognized,
         {1, 1, 7},
         "service user",
         "called AE title not recognized"},
        {RejectReason::AcseNoReason, {1, 2, 1}, "ACSE provider", "no reason given"},
        {RejectReason::ProtocolVersionNotSupported,
         {1, 2, 2},
         "ACSE provider",
         "protocol version not supported"},
        {RejectReason::TemporaryCongestion,
         {2, 3, 1},
         "presentation provider",
         "temporary congestion"},
        {RejectReason::LocalLimitExceeded,
         {2, 3, 2},
         "presentation provider",
         "local limit exceeded"},
    };
    TestNode node;
    node.Start();
    const DicomPeer peer = PeerOf(node);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        node.SetRejectAssociation(c.reason);
        AssociationReport report;
        EXPECT_EQ(EchoFailure(peer, report), "EDicomAssociationRejected: Association rejected by " +
                                                 peer.Text() + ": " + c.text);
        ASSERT_TRUE(report.rejection);
        EXPECT_EQ(report.rejection->result, c.fields.result);
        EXPECT_EQ(report.rejection->source, c.fields.source);
        EXPECT_EQ(report.rejection->reason, c.fields.reason);
        EXPECT_EQ(RejectSourceName(report.rejection->source), c.source);
        EXPECT_TRUE(report.connected);
        EXPECT_FALSE(report.accepted);
    }
}

// DCMTK keeps neither an A-ABORT's fields nor a silent close apart from
// other read failures; the layer does.
TEST(AssociationNet, AbortsAndSilentHangUpsAreTold) {
    const struct {
        HangUp when;
        std::optional<AbortFields> abort;
        std::string failure;  // after "EDicomNetworkError: "
    } cases[] = {
        {HangUp::OnAssociationRequest, AbortFields{2, 2},
         "No association with PEER: association aborted by the node"},
        {HangUp::OnAssociationRequest, std::nullopt,
         "No association with PEER: connection closed by the node"},
        {HangUp::OnRequest, AbortFields{0, 0},
         "C-ECHO to PEER failed: association aborted by the node"},
        {HangUp::OnRequest, std::nullopt, "C-ECHO to PEER failed: connection closed by the node"},
    };
    TestNode node;
    node.Start();
    const DicomPeer peer = PeerOf(node);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        node.SetHangUp(c.when, c.abort);
        AssociationReport report;
        std::string expected = "EDicomNetworkError: " + c.failure;
        expected.replace(expected.find("PEER"), 4, peer.Text());
        EXPECT_EQ(EchoFailure(peer, report), expected);
        EXPECT_EQ(report.abort.has_value(), c.abort.has_value());
        if (report.abort && c.abort) {
            EXPECT_EQ(report.abort->source, c.abort->source);
            EXPECT_EQ(report.abort->reason, c.abort->reason);
        }
        EXPECT_EQ(report.peerClosed, !c.abort.has_value());
    }
}

TEST(AssociationNet, ReportHoldsTheNegotiationAndTheFinalStatusWithItsDetails) {
    TestNode node;
    node.SetFinalStatus(0xA900, "Bad key", DCM_PatientID);
    node.Start();
    DicomQuery query = testing::MakeQuery(node.Port(), "STUDY");
    query.SetMaxPdu(32768);

    EXPECT_EQ(query.QueryFind(testing::StudyIdentifier()).status, 0xA900);

    const AssociationReport& report = query.QueryLastReport();
    EXPECT_EQ(report.command, "C-FIND");
    EXPECT_EQ(report.callingAETitle, "Lumo4410");
    EXPECT_EQ(report.calledAETitle, "NORVANEX");
    ASSERT_EQ(report.contexts.size(), 1u);
    EXPECT_EQ(report.contexts[0].abstractSyntax, UID_FINDStudyRootQueryRetrieveInformationModel);
    EXPECT_EQ(report.contexts[0].transferSyntaxes.size(), 3u);
    EXPECT_TRUE(report.contexts[0].Accepted());
    EXPECT_EQ(report.contexts[0].acceptedTransferSyntax, UID_LittleEndianExplicitTransferSyntax);
    EXPECT_EQ(report.ourMaxPdu, 32768u);
    EXPECT_GE(report.peerMaxPdu, 16384u);
    EXPECT_EQ(report.peerImplementationClassUID, OFFIS_IMPLEMENTATION_CLASS_UID);
    EXPECT_EQ(report.peerImplementationVersionName, OFFIS_DTK_IMPLEMENTATION_VERSION_NAME);
    EXPECT_TRUE(report.released);
    EXPECT_EQ(report.finalStatus, 0xA900);
    EXPECT_EQ(report.errorComment, "Bad key");
    EXPECT_EQ(report.offendingElements, std::vector<std::uint32_t>{0x00100020});
}

// A strict node rejects a whole association that proposes one service it
// does not serve: the probe then asks each alone, and still checks the
// FIND service it may use.
TEST(ProbeNet, EachServiceIsAskedAloneWhenTheNodeRejectsThemTogether) {
    TestNode node;
    node.SetAcceptedSopClasses({lumo::testing::kVerification, lumo::testing::kStudyRootFind});
    node.SetRejectUnservedServices(true);
    node.Start();

    const DicomProbeResult probe = DicomProbe(PeerOf(node));

    ASSERT_TRUE(probe.Reached());
    ASSERT_EQ(probe.services.size(), 4u);
    EXPECT_TRUE(probe.services[0].Accepted());
    for (int i : {1, 2}) {
        ASSERT_TRUE(probe.services[i].rejection) << i;
        EXPECT_EQ(probe.services[i].rejection->reason, 1) << i;
        EXPECT_FALSE(probe.services[i].find) << i;
    }
    EXPECT_TRUE(probe.services[3].Accepted());
    ASSERT_TRUE(probe.services[3].find);
    EXPECT_EQ(probe.services[3].find->status, 0x0000);
    EXPECT_EQ(probe.reports.size(), 6u);  // together, each alone, the C-FIND
    ASSERT_EQ(node.ReceivedCount(), 1u);
    const auto patientId = node.Received()[0].Text(DCM_PatientID);
    ASSERT_TRUE(patientId);
    EXPECT_EQ(patientId->rfind(SITE_INSTANCE_UID_ROOT, 0), 0u) << *patientId;
}

TEST(ProbeNet, AnUnreachableNodeIsOneFailure) {
    lumo::testing::RefusingPort closed;
    DicomPeer peer;
    peer.address = "127.0.0.1";
    peer.port = closed.Port();
    peer.calledAETitle = "NORVANEX";

    const DicomProbeResult probe = DicomProbe(peer);

    EXPECT_FALSE(probe.Reached());
    EXPECT_EQ(probe.failure, "Cannot connect to " + peer.Text() + ": connection refused");
    EXPECT_EQ(probe.reports.size(), 1u);
}

}  // namespace
}  // namespace lumo::dicom
