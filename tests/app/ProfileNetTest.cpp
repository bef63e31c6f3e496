// The profile of a node against the test node: each matching rule the node
// is given is found, and nothing else changes.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "app/ProfileRun.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app {
namespace {

using namespace std::chrono_literals;
using lumo::testing::MatchingRules;
using lumo::testing::TestNode;
using S = ProfileSection;
using Verdicts = std::map<std::pair<ProfileSection, std::string>, std::string>;

QueryRequest RequestTo(const TestNode& node) {
    QueryRequest request;
    request.node.address = "127.0.0.1";
    request.node.port = node.Port();
    request.node.calledAETitle = node.AETitle();
    request.node.callingAETitle = "Lumo4410";
    return request;
}

Verdicts VerdictsOf(const NodeProfile& profile) {
    Verdicts verdicts;
    for (const ProfileFinding& finding : profile.findings)
        verdicts[{finding.section, finding.id}] = finding.verdict;
    return verdicts;
}

// The findings whose verdict is not the baseline's, with their verdict.
Verdicts Changed(const Verdicts& baseline, const Verdicts& now) {
    Verdicts changed;
    for (const auto& [key, verdict] : now) {
        const auto before = baseline.find(key);
        if (before == baseline.end() || before->second != verdict) changed[key] = verdict;
    }
    for (const auto& [key, verdict] : baseline)
        if (now.count(key) == 0) changed[key] = "(absent)";
    return changed;
}

Verdicts AtEveryLevel(const std::string& id, const std::string& verdict) {
    Verdicts verdicts;
    for (S section : {S::Patient, S::Study, S::Series, S::Image, S::Worklist})
        verdicts[{section, id}] = verdict;
    return verdicts;
}

// The rules of one case: the default ones with `change` applied.
template <typename Change>
MatchingRules Rules(Change change) {
    MatchingRules rules;
    change(rules);
    return rules;
}

TEST(ProfileNet, FindsEachRuleOfTheNodeAndNothingElse) {
    TestNode node;
    node.SetEntries(lumo::testing::SampleInstances(), lumo::testing::SampleWorklist());
    node.Start();
    const NodeProfile baseline = RunProfile(RequestTo(node), {});
    ASSERT_TRUE(baseline.reached) << baseline.failure;
    EXPECT_EQ(baseline.failure, "");
    // A node that matches by the book passes every probe of the battery; of
    // extended negotiation it accepts relational queries only.
    for (const ProfileFinding& finding : baseline.findings) {
        const bool negotiation = finding.section == S::Negotiation;
        const bool relational = finding.id.ends_with("/relational");
        if (negotiation && finding.verdict != "non mesuré") {
            EXPECT_EQ(finding.verdict, relational ? "acceptée" : "refusée") << finding.id;
            continue;
        }
        for (const char* bad : {"non conforme", "échec", "refusée", "non mesuré", "sans objet"})
            EXPECT_NE(finding.verdict, bad) << finding.id << " : " << finding.detail;
    }

    const struct {
        const char* rule;
        MatchingRules rules;
        Verdicts changed;
    } cases[] = {
        {"case-sensitive names",
         Rules([](MatchingRules& r) { r.caseSensitiveNames = true; }),
         {{{S::Patient, "case/PatientName"}, "sensible à la casse"},
          {{S::Study, "case/PatientName"}, "sensible à la casse"},
          {{S::Worklist, "case/PatientName"}, "sensible à la casse"}}},
        {"a key ignored",
         Rules([](MatchingRules& r) { r.ignoredKeys = {DCM_ReferringPhysicianName}; }),
         {{{S::Study, "ignored/ReferringPhysicianName"}, "ignorée"},
          {{S::Series, "ignored/ReferringPhysicianName"}, "ignorée"},
          {{S::Image, "ignored/ReferringPhysicianName"}, "ignorée"}}},
        {"a silent cap", Rules([](MatchingRules& r) { r.cap = 2; }),
         AtEveryLevel("cap", "limite à 2, silencieuse")},
        {"a cap with a warning", Rules([](MatchingRules& r) {
             r.cap = 2;
             r.capStatus = 0xB000;
             r.capComment = "Too many matches";
         }),
         AtEveryLevel("cap", "limite à 2, signalée")},
        {"relational queries refused",
         Rules([](MatchingRules& r) { r.refuseRelational = true; }),
         {{{S::Negotiation, "patient-root/relational"}, "refusée"},
          {{S::Negotiation, "study-root/relational"}, "refusée"}}},
        {"a slow association", Rules([](MatchingRules& r) { r.associationDelay = 60ms; }), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        node.SetMatchingRules(c.rules);
        const NodeProfile profile = RunProfile(RequestTo(node), {});
        EXPECT_EQ(profile.failure, "");
        EXPECT_EQ(Changed(VerdictsOf(baseline), VerdictsOf(profile)), c.changed);
        for (const PhaseStats& phase : profile.timings) {
            if (phase.phase == "association" && c.rules.associationDelay > 0ms) {
                EXPECT_GE(phase.median, 60.0);
            }
        }
    }
}

}  // namespace
}  // namespace lumo::app
