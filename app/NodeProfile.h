#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumo::app {

// A node's profile: what a battery of small queries learnt of how it matches,
// what it returns, where it stops, which character sets it speaks, what it
// accepts in extended negotiation and how long it takes; listed as lines,
// written and read as JSON, compared with an earlier one so that an
// operator sees what an upgrade changed. Plain values and free functions;
// any thread.

// Where a finding belongs, in the order the profile lists them.
enum class ProfileSection {
    Services,
    Negotiation,
    Patient,
    Study,
    Series,
    Image,
    Worklist,
    Timings
};

// One thing learnt of the node, with the query that proved it.
struct ProfileFinding {
    ProfileSection section = ProfileSection::Services;
    std::string id;       // the same from one run to the next: "ignored/PatientName"
    std::string title;    // what was asked: "Clé ignorée ? PatientName"
    std::string verdict;  // what the node did, in a word or two: "prise en compte", "ignorée"
    std::string detail;   // what adds to it, when something does
    std::string query;    // the query that proved it: "C-FIND STUDY PatientName=\"DUP*\""
    std::string answer;   // how the node answered it: "1 réponse", "statut A900"
    // The identifier sent, one attribute a line (shown with --verbose; not saved).
    std::vector<std::string> identifier;
};

// One phase of the timed query over its runs, in milliseconds.
struct PhaseStats {
    std::string phase;  // "connect", "tls", "association", "first-response", "gap", "end"
    int samples = 0;
    double median = 0;
    double p95 = 0;
    double worst = 0;
};

// The median, 95th percentile (nearest rank) and worst of the values.
PhaseStats StatsOf(std::string phase, std::vector<double> values);

struct NodeProfile {
    std::string node;       // "AE@address:port", or the DICOMweb service's base URL
    std::string transport;  // "DIMSE" or "DICOMweb"
    std::string started;    // when the profile began, as the operator reads it
    int queries = 0;        // queries sent
    int associations = 0;   // associations opened to negotiate only
    double seconds = 0;     // how long the whole profile took
    bool reached = false;   // the node could be profiled
    bool stopped = false;   // a stop ended it early (not saved)
    // Why it could not be, or why the battery ended early (a stop, a bound).
    std::string failure;
    std::vector<ProfileFinding> findings;
    int timedRuns = 0;
    std::vector<PhaseStats> timings;

    const ProfileFinding* Find(ProfileSection section, const std::string& id) const;
};

// The profile as the operator reads it: a heading, then each section's
// findings one a line, each with the query that proved it (and with
// `verbose` the identifier sent); the return keys of a level on three
// lines (filled, empty, absent).
std::vector<std::string> ProfileLines(const NodeProfile& profile, bool verbose);

// The profile as JSON, and back. A text that is no profile raises
// EConvertError saying what is wrong with it.
std::string ProfileJson(const NodeProfile& profile);
NodeProfile ProfileFromJson(const std::string& text);

// What changed from `before` to `now`, one line each: a finding whose
// verdict changed, that appeared or that went, and a phase now at least
// twice as slow (and 50 ms slower) at the median. Empty when nothing did.
std::vector<std::string> ProfileChanges(const NodeProfile& before, const NodeProfile& now);

}  // namespace lumo::app
