// QueryRun against a node that misbehaves on purpose: responses the console
// must not read, bytes sent too slowly, a negotiation that breaks the rules.
// Each ends the query in a clean failure, never a crash or a hang.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/dicom/QueryTestHelpers.h"
#include "tests/dicom/WireBytes.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::dicom {
namespace {

using namespace std::chrono_literals;
using lumo::testing::AssociationRecord;
using lumo::testing::MakeDataSet;
using lumo::testing::RawResponse;
using lumo::testing::TestNode;
using lumo::testing::Trickle;
using testing::FailureOf;
using testing::MakeQuery;
using testing::StudyIdentifier;
using testing::WireBytes;

std::string Peer(const TestNode& node) {
    return "127.0.0.1:" + std::to_string(node.Port()) + " (NORVANEX)";
}

// `levels` sequences of one item each, one inside the other, all of
// undefined length: in explicit VR (a data set) or implicit VR (a command).
std::string Nested(int levels, bool implicitVr) {
    WireBytes open;
    if (implicitVr) {
        open.Tag(0x0040, 0x0100).U32(WireBytes::kUndefined);
    } else {
        open.Header(0x0040, 0x0100, "SQ", WireBytes::kUndefined);
    }
    open.Tag(0xFFFE, 0xE000).U32(WireBytes::kUndefined);
    const std::string close =
        WireBytes().Tag(0xFFFE, 0xE00D).U32(0).Tag(0xFFFE, 0xE0DD).U32(0).Bytes();
    std::string bytes;
    for (int i = 0; i < levels; ++i) bytes += open.Bytes();
    for (int i = 0; i < levels; ++i) bytes += close;
    return bytes;
}

// A pending C-FIND response's command announcing no data set, in implicit VR.
WireBytes PendingCommand() {
    auto us = [](WireBytes& bytes, std::uint16_t element, std::uint16_t value) {
        bytes.Tag(0x0000, element).U32(2).U16(value);
    };
    WireBytes command;
    us(command, 0x0100, 0x8020);  // C-FIND-RSP
    us(command, 0x0120, 1);       // the request's message ID
    us(command, 0x0800, 0x0101);  // no data set
    us(command, 0x0900, 0xFF00);  // pending
    return command;
}

// Responses the console cannot read safely: the query fails with a message
// saying why and aborts the association, rather than crashing or reading on.
TEST(QueryHostileNodeNet, RefusedResponseAbortsTheAssociation) {
    const struct {
        const char* what;
        std::optional<RawResponse> raw;
        std::optional<std::uint16_t> messageID;
        std::string failure;
    } cases[] = {
        {"data set nested 10,000 deep", RawResponse{0, "", Nested(10'000, false)}, std::nullopt,
         "response nests sequences more than 64 deep"},
        {"command nested 10,000 deep",
         RawResponse{0, PendingCommand().Raw(Nested(10'000, true)).Bytes(), ""}, std::nullopt,
         "response nests sequences more than 64 deep"},
        {"answer to another request", std::nullopt, 7,
         "protocol error: response to message ID 7 while the request was message ID 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestNode node;
        node.SetResponses({MakeDataSet({{DCM_PatientID, "P1"}})});
        node.SetRawResponse(c.raw);
        node.SetResponseMessageID(c.messageID);
        node.Start();
        DicomQuery query = MakeQuery(node.Port(), "STUDY");

        EXPECT_EQ(FailureOf(query, StudyIdentifier()),
                  "EDicomNetworkError: C-FIND to " + Peer(node) + " failed: " + c.failure);
        ASSERT_TRUE(node.WaitForAssociationsEnded(1, 10s));
        EXPECT_EQ(node.Associations()[0].end, AssociationRecord::End::AbortedByPeer);
    }
}

// The bound holds however the data set is cut into PDVs, to the byte.
TEST(QueryHostileNodeNet, ResponseLargerThanTheLimitIsRefused) {
    const auto dataSet = [](std::size_t textBytes) {
        return WireBytes()
            .Element(0x0010, 0x0020, "LO", "P1")
            .Element(0x0010, 0x4000, "LT", std::string(textBytes, 'x'))
            .Bytes();
    };
    const struct {
        const char* what;
        std::string bytes;
        std::size_t limit;
        bool refused;
    } cases[] = {
        {"one PDV, over", dataSet(990), 1'006, true},
        {"several PDVs, at the limit", dataSet(39'990), 40'008, false},
        {"several PDVs, over", dataSet(39'990), 40'006, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.bytes.size(), c.limit + (c.refused ? 2 : 0));
        TestNode node;
        node.SetResponses({MakeDataSet({{DCM_PatientID, "P1"}})});
        node.SetRawResponse(RawResponse{0, "", c.bytes});
        node.Start();
        DicomQuery query = MakeQuery(node.Port(), "STUDY");
        query.SetLimits(DicomLimits{c.limit});

        EXPECT_EQ(FailureOf(query, StudyIdentifier()),
                  c.refused ? "EDicomNetworkError: C-FIND to " + Peer(node) +
                                  " failed: response data set larger than " +
                                  std::to_string(c.limit) + " bytes"
                            : "no error");
    }
}

// A node that sends a byte now and then is held to the timeout of the whole
// stage, not of each read.
TEST(QueryHostileNodeNet, TrickledBytesEndInTheTimeoutOfTheirStage) {
    const struct {
        Trickle what;
        std::string failure;  // after the peer
    } cases[] = {
        {Trickle::AssociationAccept, "No association with PEER: association timeout after 1 s"},
        {Trickle::Responses, "C-FIND to PEER failed: response timeout after 1 s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        TestNode node;
        node.SetTrickle(c.what, 100ms);
        node.Start();
        DicomQuery query = MakeQuery(node.Port(), "STUDY");
        DicomTimeouts timeouts = testing::ShortTimeouts();
        timeouts.association = 1s;
        timeouts.response = 1s;
        query.SetTimeouts(timeouts);

        std::string expected = "EDicomNetworkError: " + c.failure;
        expected.replace(expected.find("PEER"), 4, Peer(node));
        EXPECT_EQ(FailureOf(query, StudyIdentifier()), expected);
    }
}

TEST(QueryHostileNodeNet, TransferSyntaxThatWasNotProposedIsRefused) {
    TestNode node;
    node.SetAcceptedTransferSyntax("1.2.840.10008.1.2.4.50");
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");

    EXPECT_EQ(FailureOf(query, StudyIdentifier()),
              "EDicomNetworkError: No association with " + Peer(node) +
                  ": the node accepted transfer syntax 1.2.840.10008.1.2.4.50, which was not "
                  "proposed");
    ASSERT_TRUE(node.WaitForAssociationsEnded(1, 10s));
    EXPECT_EQ(node.Associations()[0].end, AssociationRecord::End::AbortedByPeer);
    EXPECT_EQ(node.ReceivedCount(), 0u);
}

}  // namespace
}  // namespace lumo::dicom
