// QIDO-RS searches against the scripted HTTP node (tests/fixtures/
// http_test_node.py): pages followed, and the faults real services do not
// make on demand, each told in words.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dicom/data/DicomAttributes.h"
#include "dicom/web/QidoSearch.h"
#include "support/Exception.h"
#include "tests/fixtures/PeerServers.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::dicom {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

// The scripted node, on a loopback port of its own. Owns the process.
class HttpTestNode {
  public:
    HttpTestNode() : process_(testing::StartHttpTestNode(dir_, {}, port_)) {}
    std::string Url(const std::string& root) const {
        return "http://127.0.0.1:" + port_ + "/" + root;
    }

  private:
    TempDir dir_{"lumo-http"};
    std::string port_;
    std::unique_ptr<testing::ChildProcess> process_;
};

const HttpTestNode& Node() {
    static const HttpTestNode node;
    return node;
}

struct Found {
    std::vector<std::string> ids;
    AssociationReport report;
    std::string failure;  // "EClass: message"
};

Found Search(const std::string& url, DicomLimits limits = {}, std::chrono::seconds response = 60s,
             std::stop_token stop = {}) {
    DicomWebService service;
    service.baseUrl = url;
    service.timeouts.response = response;
    DicomDataSet identifier;
    identifier.DataSetAttributes().AttributesAdd(0x0008, 0x0052, Variant("STUDY"));
    identifier.DataSetAttributes().AttributesAdd(0x0010, 0x0020, Variant(""));
    Found found;
    try {
        QidoFind(
            service, limits, identifier,
            [&](const DicomDataSet& response) { found.ids.push_back(response.DataSetPatientID()); },
            stop, found.report);
    } catch (const Exception& e) {
        found.failure = e.ClassName() + ": " + e.Message();
    }
    return found;
}

TEST(QidoSearchNet, PagesAreFollowedToTheEndOrTheLimit) {
    using Ids = std::vector<std::string>;
    const struct {
        const char* root;
        std::uint32_t maxResults;
        Ids ids;
        std::size_t requests;
        CancelReason cancel;
        bool truncated;
    } cases[] = {
        // Two per answer with a Warning 299, then what is left.
        {"paged", 0, {"P1", "P2", "P3", "P4", "P5"}, 3, CancelReason::None, false},
        {"paged", 3, {"P1", "P2", "P3"}, 2, CancelReason::Limit, false},
        {"sameoffset", 0, {"P1", "P2"}, 2, CancelReason::None, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.root) + " " + std::to_string(c.maxResults));
        const Found found = Search(Node().Url(c.root), DicomLimits{1 << 20, c.maxResults});
        EXPECT_EQ(found.failure, "");
        EXPECT_EQ(found.ids, c.ids);
        EXPECT_EQ(found.report.http.size(), c.requests);
        EXPECT_EQ(found.report.cancel, c.cancel);
        EXPECT_EQ(found.report.truncation ? found.report.truncation->after : -1,
                  c.truncated ? 2 : -1);
    }
    const Found paged = Search(Node().Url("paged"), DicomLimits{1 << 20, 3});
    EXPECT_EQ(paged.report.http[1].url.substr(paged.report.http[1].url.size() - 17),
              "&limit=1&offset=2");
}

TEST(QidoSearchNet, FaultsAreToldInWords) {
    const testing::RefusingPort refusing;
    const std::string closed = "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/web";
    const struct {
        std::string url;
        DicomLimits limits;
        std::chrono::seconds response;
        std::string failure;  // after "<class>: QIDO-RS to <url> failed" where it says so
    } cases[] = {
        {Node().Url("html"),
         {},
         60s,
         "EDicomError: QIDO-RS to " + Node().Url("html") +
             " failed: the answer is not DICOM JSON but text/html (Connexion requise)"},
        {Node().Url("trickle"),
         {},
         1s,
         "EDicomNetworkError: QIDO-RS to " + Node().Url("trickle") +
             " failed: response timeout after 1 s"},
        // Several hundred MB, refused once past 1 MB for each of 5 answers.
        {Node().Url("huge"), DicomLimits{1 << 20, 5}, 60s,
         "EDicomNetworkError: QIDO-RS to " + Node().Url("huge") +
             " failed: answer larger than 5242880 bytes"},
        {Node().Url("refuse"),
         {},
         60s,
         "EDicomStatusError: QIDO-RS to " + Node().Url("refuse") +
             " failed: HTTP 400 Bad Request; the service refused the parameter PatientID; the "
             "service says: Unknown parameter: PatientID"},
        {Node().Url("elsewhere"),
         {},
         60s,
         "EDicomStatusError: QIDO-RS to " + Node().Url("elsewhere") +
             " failed: HTTP 404 Not Found; is " + Node().Url("elsewhere") +
             " the service's DICOMweb root? (the URL its /studies hangs from; for Orthanc "
             "http://host:8042/dicom-web); the service says: 404 Not Found"},
        {closed,
         {},
         60s,
         "EDicomNetworkError: Cannot connect to " + closed + ": connection refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const Found found = Search(c.url, c.limits, c.response);
        EXPECT_EQ(found.failure, c.failure);
        EXPECT_TRUE(found.ids.empty());
        EXPECT_EQ(found.report.http.size(), 1u);
    }
}

TEST(QidoSearchNet, AStopEndsATransferUnderWay) {
    const std::string url = Node().Url("trickle");
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop.request_stop();
    });
    const Found found = Search(url, {}, 60s, stop.get_token());
    stopper.join();
    EXPECT_EQ(found.failure, "");
    EXPECT_EQ(found.report.cancel, CancelReason::Stop);
    EXPECT_EQ(found.report.http.size(), 1u);
}

}  // namespace
}  // namespace lumo::dicom
