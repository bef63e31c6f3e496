// The profile of real nodes that really differ: dcmtk's query/retrieve
// server, dcmtk's worklist server and Orthanc. Each is profiled to its end
// within the profile's bounds, and offers the services it should.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ProfileRun.h"
#include "tests/fixtures/PeerServers.h"

namespace lumo::app {
namespace {

using lumo::testing::Instance;

std::vector<Instance> Instances() {
    const std::string root = "1.2.826.0.1.3680043.9.7433.5.";
    return {
        {"PID1", "DUPONT^JEAN", root + "1", "ACC1", "CT", root + "1.1", "1", root + "1.1.1"},
        {"PID1", "DUPONT^JEAN", root + "1", "ACC1", "CT", root + "1.1", "1", root + "1.1.2"},
        {"PID1", "DUPONT^JEAN", root + "1", "ACC1", "SR", root + "1.2", "2", root + "1.2.1"},
        // Latin-1 bytes, as the instance's ISO_IR 100 says.
        {"PID2", "M\xDCLLER^J\xD6RG", root + "2", "ACC2", "MR", root + "2.1", "1", root + "2.1.1"}};
}

TEST(ProfilePeersNet, RunsToItsEndOnEachRealNode) {
    lumo::testing::ArchiveServer archive(Instances());
    lumo::testing::WorklistServer worklist;
    lumo::testing::OrthancServer orthanc(Instances(), true);
    const struct {
        const char* name;
        std::uint16_t port;
        const char* aeTitle;
        std::vector<std::string> accepted;  // service findings, in their order
    } nodes[] = {
        {"dcmqrscp", archive.Port(), "COMMON", {"refusé", "accepté", "accepté"}},
        {"wlmscpfs", worklist.Port(), "OFFIS", {"accepté", "refusé", "refusé"}},
        {"Orthanc", orthanc.Port(), "ORTHANC", {"accepté", "accepté", "accepté"}},
    };
    const ProfileOptions options;
    for (const auto& node : nodes) {
        SCOPED_TRACE(node.name);
        QueryRequest request;
        request.node.address = "127.0.0.1";
        request.node.port = node.port;
        request.node.calledAETitle = node.aeTitle;
        request.node.callingAETitle = "Lumo4410";
        const NodeProfile profile = RunProfile(request, options);
        ASSERT_TRUE(profile.reached) << profile.failure;
        EXPECT_EQ(profile.failure, "");
        EXPECT_LE(static_cast<std::size_t>(profile.queries), options.maxQueries);
        std::vector<std::string> services;
        for (const ProfileFinding& finding : profile.findings)
            if (finding.section == ProfileSection::Services) services.push_back(finding.verdict);
        EXPECT_EQ(services, node.accepted);
        EXPECT_GT(profile.timedRuns, 0);
    }
}

}  // namespace
}  // namespace lumo::app
