// The profile of real nodes that really differ: dcmtk's query/retrieve
// server, dcmtk's worklist server and Orthanc, over DIMSE and over its
// DICOMweb plugin. Each is profiled to its end within the profile's bounds,
// and offers the services it should.

#include <gtest/gtest.h>

#include <algorithm>
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
    lumo::testing::OrthancWebServer web(Instances(), {});
    const struct {
        const char* name;
        std::uint16_t port;
        const char* aeTitle;
        std::vector<std::string> accepted;  // service findings, in their order
        std::string dicomWebUrl;            // over DICOMweb when set
    } nodes[] = {
        {"dcmqrscp", archive.Port(), "COMMON", {"refusé", "accepté", "accepté"}, ""},
        {"wlmscpfs", worklist.Port(), "OFFIS", {"accepté", "refusé", "refusé"}, ""},
        {"Orthanc", orthanc.Port(), "ORTHANC", {"accepté", "accepté", "accepté"}, ""},
        {"Orthanc DICOMweb",
         0,
         "",
         {"aucune", "accepté", "accepté", "accepté", "non mesuré", "non mesuré"},
         web.BaseUrl()},
    };
    const ProfileOptions options;
    for (const auto& node : nodes) {
        SCOPED_TRACE(node.name);
        QueryRequest request;
        request.node.address = "127.0.0.1";
        request.node.port = node.port;
        request.node.calledAETitle = node.aeTitle;
        request.node.callingAETitle = "Lumo4410";
        const bool overHttp = !node.dicomWebUrl.empty();
        if (overHttp) request.transport = QueryTransport::DicomWeb;
        request.node.dicomWebUrl = node.dicomWebUrl;
        const NodeProfile profile = RunProfile(request, options);
        ASSERT_TRUE(profile.reached) << profile.failure;
        EXPECT_EQ(profile.failure, "");
        EXPECT_LE(static_cast<std::size_t>(profile.queries), options.maxQueries);
        std::vector<std::string> services;
        for (const ProfileFinding& finding : profile.findings)
            if (finding.section == ProfileSection::Services) services.push_back(finding.verdict);
        EXPECT_EQ(services, node.accepted);
        EXPECT_GT(profile.timedRuns, 0);
        // An HTTP search has no association phase; what only DIMSE has is
        // said not measured, never given a verdict.
        std::vector<std::string> phases;
        for (const PhaseStats& stats : profile.timings) phases.push_back(stats.phase);
        EXPECT_EQ(std::count(phases.begin(), phases.end(), "association"), overHttp ? 0 : 1);
        EXPECT_EQ(std::count(phases.begin(), phases.end(), "end"), 1);
        if (!overHttp) continue;
        EXPECT_EQ(profile.node, node.dicomWebUrl);
        const auto verdict = [&](ProfileSection section, const char* id) {
            const ProfileFinding* finding = profile.Find(section, id);
            return finding ? finding->verdict : std::string("(absent)");
        };
        for (const char* id : {"absent-keys", "charset/utf8-query", "charset/answers"})
            EXPECT_EQ(verdict(ProfileSection::Study, id), "non mesuré") << id;
        for (const char* id : {"anchor", "uid-list/StudyInstanceUID"})
            EXPECT_EQ(verdict(ProfileSection::Study, id), "conforme") << id;
        // Debian's Orthanc 1.10 does not decode its parameters: "^" sent
        // as %5E finds nothing; a wildcard reaches it as one.
        EXPECT_EQ(verdict(ProfileSection::Study, "escapes"), "non décodés");
        EXPECT_EQ(verdict(ProfileSection::Series, "question/Modality"), "conforme");
        EXPECT_EQ(verdict(ProfileSection::Image, "anchor"), "conforme");
    }
}

}  // namespace
}  // namespace lumo::app
