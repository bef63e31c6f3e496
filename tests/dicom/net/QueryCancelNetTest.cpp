// A C-FIND cut short by this side: the limit on responses or a stop sends a
// C-CANCEL-RQ for the request, the responses after it are not taken, and
// however the node answers it (the end of the cancel, a failure status,
// nothing, a closed connection) the query ends as that answer says.

#include <dcmtk/config/osconfig.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "dicom/net/DicomQuery.h"
#include "tests/dicom/QueryTestHelpers.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::dicom {
namespace {

using namespace std::chrono_literals;
using lumo::testing::AssociationRecord;
using lumo::testing::OnCancel;
using lumo::testing::Silence;
using lumo::testing::TestNode;
using testing::MakeQuery;
using testing::StudyIdentifier;

using End = AssociationRecord::End;

// One way of cutting a query short, one way for the node to take it, and
// what the query must then have ended with.
struct CancelCase {
    const char* name;
    std::uint32_t limit;       // 0: none
    int stopAfter;             // a stop requested from the handler at this response; 0: none
    OnCancel onCancel;         // the node's answer
    std::uint16_t nodeStatus;  // its final status when it honours the cancel
    int responses;             // taken
    CancelReason cancel;
    std::optional<std::uint16_t> status;  // none: cut off
    const char* failure;                  // "" when the query ends without raising
    End end;                              // of the association, as the node saw it
};

const CancelCase kCases[] = {
    {"LimitHonoured", 5, 0, OnCancel::Honour, 0xFE00, 5, CancelReason::Limit, 0xFE00, "",
     End::Released},
    {"StopHonoured", 0, 3, OnCancel::Honour, 0xFE00, 3, CancelReason::Stop, 0xFE00, "",
     End::Released},
    {"LimitAnsweredWithAFailure", 5, 0, OnCancel::Honour, 0xC000, 5, CancelReason::Limit, 0xC000,
     "", End::Released},
    {"LimitIgnoredIsCutOff", 5, 0, OnCancel::Ignore, 0xFE00, 5, CancelReason::Limit, std::nullopt,
     "", End::AbortedByPeer},
    {"LimitAnsweredByAHangUp", 5, 0, OnCancel::HangUp, 0xFE00, 5, CancelReason::Limit, std::nullopt,
     "connection closed by the node after 5 responses", End::Dropped},
};

class QueryCancelNet : public ::testing::TestWithParam<CancelCase> {};

TEST_P(QueryCancelNet, EndsAsTheNodeAnswersTheCancel) {
    const CancelCase& c = GetParam();
    TestNode node;
    node.SetSyntheticResponses(40);
    node.SetResponseDelay(50ms);
    node.SetOnCancel(c.onCancel, c.nodeStatus);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    DicomTimeouts timeouts = testing::ShortTimeouts();
    timeouts.response = 1s;  // what a node that ignores the cancel gets
    query.SetTimeouts(timeouts);
    query.SetLimits({DicomLimits().maxResponseBytes, c.limit});

    std::stop_source stop;
    int seen = 0;
    const auto onResponse = [&](const DicomDataSet&) {
        if (++seen == c.stopAfter) stop.request_stop();
    };
    std::optional<DicomFindResult> result;
    std::string failure;
    try {
        result = query.QueryFind(StudyIdentifier(), onResponse, stop.get_token());
    } catch (const Exception& e) {
        failure = e.what();
    }

    EXPECT_EQ(seen, c.responses);
    EXPECT_EQ(query.QueryLastReport().responses, c.responses);
    EXPECT_EQ(query.QueryLastReport().cancel, c.cancel);
    if (*c.failure != '\0') {
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    } else {
        ASSERT_TRUE(result) << failure;
        EXPECT_EQ(result->responses.DataSetsCount(), c.responses);
        EXPECT_EQ(result->cancel, c.cancel);
        EXPECT_EQ(result->cutOff, !c.status.has_value());
        if (c.status) {
            EXPECT_EQ(result->status, *c.status);
        }
    }
    // One cancel, for the request sent.
    ASSERT_TRUE(node.WaitForAssociationsEnded(1, 10s));
    ASSERT_EQ(node.ReceivedCount(), 1u);
    EXPECT_EQ(node.CancelsReceived(), std::vector<std::uint16_t>{node.Received()[0].messageID});
    EXPECT_EQ(node.Associations()[0].end, c.end);
}

INSTANTIATE_TEST_SUITE_P(Cases, QueryCancelNet, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A stop while the read waits on a node that says nothing wakes it: the
// cancel goes out at once, not once the response timeout is over (the
// node, which hangs up on it, ends the query long before that).
TEST(QueryStopNet, AStopWakesAReadOnASilentNode) {
    TestNode node;
    node.SetSilent(Silence::AfterRequest);
    node.SetOnCancel(OnCancel::HangUp);
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    DicomTimeouts timeouts = testing::ShortTimeouts();
    timeouts.response = 600s;
    query.SetTimeouts(timeouts);

    std::stop_source stop;
    std::string failure;
    std::thread asking([&] {
        try {
            query.QueryFind(StudyIdentifier(), nullptr, stop.get_token());
        } catch (const Exception& e) {
            failure = e.what();
        }
    });
    const bool asked = node.WaitForRequests(1, 10s);
    stop.request_stop();
    asking.join();
    ASSERT_TRUE(asked);
    EXPECT_NE(failure.find("connection closed by the node after 0 responses"), std::string::npos)
        << failure;
    EXPECT_EQ(node.CancelsReceived(), std::vector<std::uint16_t>{node.Received()[0].messageID});
    EXPECT_EQ(query.QueryLastReport().cancel, CancelReason::Stop);
}

// Stopped before it is sent, a query asks the node nothing.
TEST(QueryStopNet, AQueryStoppedBeforeItStartsSendsNothing) {
    TestNode node;
    node.Start();
    DicomQuery query = MakeQuery(node.Port(), "STUDY");
    std::stop_source stop;
    stop.request_stop();
    const DicomFindResult result = query.QueryFind(StudyIdentifier(), nullptr, stop.get_token());
    EXPECT_TRUE(result.cutOff);
    EXPECT_EQ(result.cancel, CancelReason::Stop);
    EXPECT_EQ(result.responses.DataSetsCount(), 0);
    EXPECT_TRUE(node.Associations().empty());
}

}  // namespace
}  // namespace lumo::dicom
