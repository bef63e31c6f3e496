#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/QueryOutcome.h"
#include "app/QueryRequest.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"

namespace lumo::app {

// What two nodes answer to the same query, side by side: responses matched
// by the level's unique key, those found on one side only, and for each
// matched pair the attributes whose values differ. Plain values and free
// functions; the comparison of lists runs in time and memory proportional to
// the responses. Any thread; the run, on the thread that runs queries.

struct AttributeDifference {
    std::string keyword;
    std::string a;
    std::string b;
};

struct PairDifference {
    std::string key;
    std::vector<AttributeDifference> attributes;
};

struct NodeComparison {
    int countA = 0;
    int countB = 0;
    int matched = 0;
    std::vector<std::string> onlyInA;
    std::vector<std::string> onlyInB;
    std::vector<PairDifference> differing;
    // Responses without the level's key: nothing to match them by, so they
    // are counted, never matched nor asked for again.
    int keylessA = 0;
    int keylessB = 0;
    // Keys answered by one node only that the other was not asked for again,
    // the bound on second questions being reached (ComparisonBounds).
    int notAskedOfA = 0;
    int notAskedOfB = 0;
    int maxRequeries = 0;  // that bound, for the report

    bool Differs() const { return !onlyInA.empty() || !onlyInB.empty() || !differing.empty(); }
};

// The key a response is matched by: Patient ID, Study, Series or SOP
// Instance UID by level; for the worklist, Accession Number "/" Scheduled
// Procedure Step ID (read at the top level, else in the first step).
std::string MatchKey(QueryLevel level, const dicom::DicomDataSet& response);
// Whether a MatchKey names anything: not empty, nor "/" for a worklist
// answer that has neither of its two.
bool HasMatchKey(const std::string& key);

// The comparison of two lists of responses. Values are compared as text,
// trimmed and decoded; a sequence by its items. (0008,0005) is left out: two
// nodes may declare different sets for the same text. With the identifier
// both answered, only the keys it asked are compared: nodes add attributes
// nobody asked for (a Retrieve AE Title, a DICOMweb service's URLs), and an
// absent key reads as an empty one.
NodeComparison CompareResponses(QueryLevel level, const dicom::DicomDataSets& a,
                                const dicom::DicomDataSets& b,
                                const dicom::DicomDataSet* identifier = nullptr);

// The identifier that asks a node for one response again by its key alone
// (with the keys of the levels above, which hierarchical nodes need).
dicom::DicomDataSet KeyIdentifier(QueryLevel level, const dicom::DicomDataSet& response);

// How far a comparison goes: each node is asked again for at most
// `maxRequeries` distinct keys, and the responses it holds (of both nodes
// and of the second questions) weigh at most `maxHeldBytes` in all.
struct ComparisonBounds {
    int maxRequeries = 500;
    std::size_t maxHeldBytes = std::size_t{512} * 1024 * 1024;
};

// Both queries, then a second question by key for each distinct key found on
// one side only (archives differ on dates and other matching keys), then the
// comparison. A failed query leaves `comparison` empty; so does the bound on
// what the comparison holds, which stops the query under way and is the
// run's own `failure`.
struct ComparisonRun {
    QueryOutcome a;
    QueryOutcome b;
    NodeComparison comparison;
    std::optional<QueryFailure> failure;

    bool Answered() const { return a.Answered() && b.Answered() && !failure; }
};
// B goes by `bTransport`, by A's when not given.
ComparisonRun CompareNodes(const QueryRequest& a, const QueryNode& b,
                           std::optional<QueryTransport> bTransport = std::nullopt,
                           const ComparisonBounds& bounds = {});

// The report as the operator reads it, and as CSV rows.
std::vector<std::string> ComparisonLines(const NodeComparison& comparison);
std::string ComparisonCsv(const NodeComparison& comparison);

}  // namespace lumo::app
