#include "app/NodeComparison.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "app/QueryIdentifier.h"
#include "app/QueryRun.h"
#include "app/ResponseExport.h"
#include "app/TrimmedValueText.h"
#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/Variant.h"

namespace lumo::app {

namespace {

using dicom::DicomAttribute;
using dicom::DicomAttributes;
using dicom::DicomDataSet;
using dicom::DicomDataSets;
using dicom::Variant;

constexpr std::uint32_t kSpecificCharacterSet = 0x00080005;

std::uint32_t TagOf(const DicomAttribute& attribute) {
    return (static_cast<std::uint32_t>(attribute.Group()) << 16) | attribute.Element();
}

std::string TextAt(const DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element) {
    return TrimmedValueText(
        dataSet.DataSetAttributes().AttributesFind(group, element).AttributeWideValue());
}

std::optional<DicomDataSet> FirstStep(const DicomDataSet& response) {
    const Variant steps =
        response.DataSetAttributes().AttributesFind(0x0040, 0x0100).AttributeValue();
    if (steps.GetType() != Variant::Type::Collection || steps.AsCollection().DataSetsCount() == 0)
        return std::nullopt;
    return steps.AsCollection().DataSetsItem(1);
}

std::string DataSetText(const DicomDataSet& dataSet);

// A value as compared and shown: its text trimmed, a sequence as its items.
std::string ValueText(const DicomAttribute& attribute) {
    const Variant value = attribute.AttributeWideValue();
    if (value.GetType() != Variant::Type::Collection) return TrimmedValueText(value);
    const DicomDataSets items = value.AsCollection();
    std::string text = "[";
    for (int i = 1; i <= items.DataSetsCount(); ++i)
        text += (i > 1 ? "; " : "") + DataSetText(items.DataSetsItem(i));
    return text + "]";
}

std::string DataSetText(const DicomDataSet& dataSet) {
    const DicomAttributes attributes = dataSet.DataSetAttributes();
    std::string text = "{";
    for (int j = 1; j <= attributes.AttributesCount(); ++j) {
        const DicomAttribute attribute = attributes.AttributesItemAt(j);
        text += (j > 1 ? ", " : "") + attribute.AttributeKeyword() + "=" + ValueText(attribute);
    }
    return text + "}";
}

// The top-level tags of an identifier, in order; empty without one.
std::vector<std::uint32_t> AskedTags(const DicomDataSet* identifier) {
    std::vector<std::uint32_t> tags;
    if (identifier == nullptr) return tags;
    const DicomAttributes attributes = identifier->DataSetAttributes();
    for (int i = 1; i <= attributes.AttributesCount(); ++i)
        tags.push_back(TagOf(attributes.AttributesItemAt(i)));
    return tags;
}

bool Compared(std::uint32_t tag, const std::vector<std::uint32_t>& asked) {
    return tag != kSpecificCharacterSet &&
           (asked.empty() || std::binary_search(asked.begin(), asked.end(), tag));
}

// The attributes of both, walked in tag order side by side.
std::vector<AttributeDifference> Differences(const DicomDataSet& a, const DicomDataSet& b,
                                             const std::vector<std::uint32_t>& asked) {
    const DicomAttributes left = a.DataSetAttributes();
    const DicomAttributes right = b.DataSetAttributes();
    const int leftCount = left.AttributesCount();
    const int rightCount = right.AttributesCount();
    std::vector<AttributeDifference> differences;
    for (int i = 1, j = 1; i <= leftCount || j <= rightCount;) {
        const std::uint32_t leftTag = i <= leftCount ? TagOf(left.AttributesItemAt(i)) : UINT32_MAX;
        const std::uint32_t rightTag =
            j <= rightCount ? TagOf(right.AttributesItemAt(j)) : UINT32_MAX;
        const std::uint32_t tag = std::min(leftTag, rightTag);
        const DicomAttribute shown =
            tag == leftTag ? left.AttributesItemAt(i) : right.AttributesItemAt(j);
        const std::string leftText = tag == leftTag ? ValueText(left.AttributesItemAt(i++)) : "";
        const std::string rightText = tag == rightTag ? ValueText(right.AttributesItemAt(j++)) : "";
        if (Compared(tag, asked) && leftText != rightText)
            differences.push_back({shown.AttributeKeyword(), leftText, rightText});
    }
    return differences;
}

// The first response of each key, by its position; responses without a key
// are left out.
std::unordered_map<std::string, int> ByKey(QueryLevel level, const DicomDataSets& responses) {
    std::unordered_map<std::string, int> index;
    index.reserve(static_cast<std::size_t>(responses.DataSetsCount()));
    for (int i = 1; i <= responses.DataSetsCount(); ++i) {
        std::string key = MatchKey(level, responses.DataSetsItem(i));
        if (HasMatchKey(key)) index.emplace(std::move(key), i);
    }
    return index;
}

// What a comparison holds, weighed as it arrives: past the bound, the query
// under way is stopped, and the run fails with the reason. Used on the
// thread of the run.
class HeldWeight {
  public:
    explicit HeldWeight(std::size_t bound) : bound_(bound) {}

    // Adds a response kept; asks `stop` once the bound is passed.
    void Add(const DicomDataSet& response, std::stop_source& stop) {
        held_ += response.DataSetHeldBytes();
        if (held_ > bound_) stop.request_stop();
    }
    bool Exceeded() const { return held_ > bound_; }

    // A query whose responses are all kept, weighed.
    QueryOutcome Run(const QueryRequest& request, const DicomDataSet& identifier) {
        std::stop_source stop;
        return RunQuery(
            request, identifier, [&](const DicomDataSet& response, int) { Add(response, stop); },
            stop.get_token());
    }

    QueryFailure Failure() const {
        return {ErrorClass::EAbort, "Comparaison arrêtée : les réponses retenues dépassent " +
                                        std::to_string(bound_ / (1024 * 1024)) +
                                        " Mio en tout (limite de la comparaison)"};
    }

  private:
    const std::size_t bound_;
    std::size_t held_ = 0;
};

// The responses of `asked` found again by key alone, for the keys that only
// `other` answered with: one question per distinct key, none without a key,
// at most `maxQueries`; the keys left unasked past that bound are counted in
// `notAsked`. Of each answer only the response of the key is kept.
DicomDataSets AskAgainByKey(const QueryRequest& asked, const DicomDataSets& other,
                            const std::vector<std::string>& keys, int maxQueries,
                            HeldWeight& weight, int& notAsked) {
    DicomDataSets found;
    if (keys.empty()) return found;
    const std::unordered_map<std::string, int> inOther = ByKey(asked.level, other);
    std::unordered_set<std::string> seen;
    QueryRequest again = asked;
    again.keepResponses = false;
    int queries = 0;
    for (const std::string& key : keys) {
        const auto at = inOther.find(key);
        if (at == inOther.end() || !seen.insert(key).second) continue;
        if (queries == maxQueries) {
            ++notAsked;
            continue;
        }
        ++queries;
        std::optional<DicomDataSet> match;
        std::stop_source stop;
        const QueryOutcome outcome = RunQuery(
            again, KeyIdentifier(asked.level, other.DataSetsItem(at->second)),
            [&](const DicomDataSet& response, int) {
                if (match || MatchKey(asked.level, response) != key) return;
                match = response;
                weight.Add(response, stop);
            },
            stop.get_token());
        if (weight.Exceeded()) break;
        if (outcome.Answered() && match) found.DataSetsAppend(*match);
    }
    return found;
}

DicomDataSets Joined(const DicomDataSets& first, const DicomDataSets& more) {
    DicomDataSets joined;
    for (int i = 1; i <= first.DataSetsCount(); ++i) joined.DataSetsAppend(first.DataSetsItem(i));
    for (int i = 1; i <= more.DataSetsCount(); ++i) joined.DataSetsAppend(more.DataSetsItem(i));
    return joined;
}

}  // namespace

std::string MatchKey(QueryLevel level, const DicomDataSet& response) {
    switch (level) {
        case QueryLevel::Patient:
            return TextAt(response, 0x0010, 0x0020);
        case QueryLevel::Study:
            return TextAt(response, 0x0020, 0x000D);
        case QueryLevel::Series:
            return TextAt(response, 0x0020, 0x000E);
        case QueryLevel::Image:
            return TextAt(response, 0x0008, 0x0018);
        case QueryLevel::Worklist:
            break;
    }
    std::string step = TextAt(response, 0x0040, 0x0009);
    if (step.empty()) {
        if (const std::optional<DicomDataSet> first = FirstStep(response))
            step = TextAt(*first, 0x0040, 0x0009);
    }
    return TextAt(response, 0x0008, 0x0050) + "/" + step;
}

bool HasMatchKey(const std::string& key) { return !key.empty() && key != "/"; }

NodeComparison CompareResponses(QueryLevel level, const DicomDataSets& a, const DicomDataSets& b,
                                const DicomDataSet* identifier) {
    const std::vector<std::uint32_t> asked = AskedTags(identifier);
    NodeComparison comparison;
    comparison.countA = a.DataSetsCount();
    comparison.countB = b.DataSetsCount();
    const std::unordered_map<std::string, int> inB = ByKey(level, b);
    std::unordered_map<std::string, bool> seenInA;
    seenInA.reserve(static_cast<std::size_t>(comparison.countA));
    for (int i = 1; i <= comparison.countA; ++i) {
        const DicomDataSet left = a.DataSetsItem(i);
        const std::string key = MatchKey(level, left);
        if (!HasMatchKey(key)) {
            ++comparison.keylessA;
            continue;
        }
        seenInA.emplace(key, true);
        const auto found = inB.find(key);
        if (found == inB.end()) {
            comparison.onlyInA.push_back(key);
            continue;
        }
        ++comparison.matched;
        std::vector<AttributeDifference> differences =
            Differences(left, b.DataSetsItem(found->second), asked);
        if (!differences.empty()) comparison.differing.push_back({key, std::move(differences)});
    }
    for (int j = 1; j <= comparison.countB; ++j) {
        const std::string key = MatchKey(level, b.DataSetsItem(j));
        if (!HasMatchKey(key)) {
            ++comparison.keylessB;
        } else if (!seenInA.count(key)) {
            comparison.onlyInB.push_back(key);
        }
    }
    return comparison;
}

DicomDataSet KeyIdentifier(QueryLevel level, const DicomDataSet& response) {
    QueryRequest request;
    request.level = level;
    QueryKeys& keys = request.keys;
    keys.patientId = level == QueryLevel::Patient ? TextAt(response, 0x0010, 0x0020) : "";
    if (level == QueryLevel::Worklist) keys.accession = TextAt(response, 0x0008, 0x0050);
    if (level == QueryLevel::Study || level == QueryLevel::Series || level == QueryLevel::Image)
        keys.studyUid = TextAt(response, 0x0020, 0x000D);
    if (level == QueryLevel::Series || level == QueryLevel::Image)
        keys.seriesUid = TextAt(response, 0x0020, 0x000E);
    DicomDataSet identifier = BuildIdentifier(request);
    DicomAttributes attributes = identifier.DataSetAttributes();
    if (level == QueryLevel::Image)
        attributes.AttributesAdd(0x0008, 0x0018, Variant(TextAt(response, 0x0008, 0x0018)));
    if (level == QueryLevel::Worklist) {
        const std::string key = MatchKey(level, response);
        if (const std::optional<DicomDataSet> step = FirstStep(identifier))
            step->DataSetAttributes().AttributesAdd(0x0040, 0x0009,
                                                    Variant(key.substr(key.find('/') + 1)));
    }
    return identifier;
}

ComparisonRun CompareNodes(const QueryRequest& asked, const QueryNode& bNode,
                           std::optional<QueryTransport> bTransport,
                           const ComparisonBounds& bounds) {
    ComparisonRun run;
    // The comparison reads every response of both sides.
    QueryRequest a = asked;
    a.keepResponses = true;
    QueryRequest b = a;
    b.node = bNode;
    HeldWeight weight(bounds.maxHeldBytes);
    b.transport = bTransport.value_or(a.transport);
    const DicomDataSet identifier = BuildIdentifier(a);
    run.a = weight.Run(a, identifier);
    if (!weight.Exceeded()) run.b = weight.Run(b, identifier);
    if (weight.Exceeded()) run.failure = weight.Failure();
    if (!run.Answered()) return run;
    const NodeComparison first =
        CompareResponses(a.level, run.a.responses, run.b.responses, &identifier);
    int notAskedOfA = 0;
    int notAskedOfB = 0;
    const DicomDataSets moreA =
        AskAgainByKey(a, run.b.responses, first.onlyInB, bounds.maxRequeries, weight, notAskedOfA);
    const DicomDataSets moreB = weight.Exceeded()
                                    ? DicomDataSets()
                                    : AskAgainByKey(b, run.a.responses, first.onlyInA,
                                                    bounds.maxRequeries, weight, notAskedOfB);
    if (weight.Exceeded()) {
        run.failure = weight.Failure();
        return run;
    }
    run.comparison = CompareResponses(a.level, Joined(run.a.responses, moreA),
                                      Joined(run.b.responses, moreB), &identifier);
    run.comparison.countA = run.a.responses.DataSetsCount();
    run.comparison.countB = run.b.responses.DataSetsCount();
    run.comparison.keylessA = first.keylessA;
    run.comparison.keylessB = first.keylessB;
    run.comparison.notAskedOfA = notAskedOfA;
    run.comparison.notAskedOfB = notAskedOfB;
    run.comparison.maxRequeries = bounds.maxRequeries;
    return run;
}

std::vector<std::string> ComparisonLines(const NodeComparison& comparison) {
    std::vector<std::string> lines = {
        "Réponses de A : " + std::to_string(comparison.countA),
        "Réponses de B : " + std::to_string(comparison.countB),
        "Appariées : " + std::to_string(comparison.matched),
        "Seulement dans A : " + std::to_string(comparison.onlyInA.size()),
        "Seulement dans B : " + std::to_string(comparison.onlyInB.size()),
        "Différentes : " + std::to_string(comparison.differing.size()),
    };
    // What the counts leave out, only when there is something to say.
    if (comparison.keylessA > 0)
        lines.push_back("Sans clé dans A (non comparées) : " + std::to_string(comparison.keylessA));
    if (comparison.keylessB > 0)
        lines.push_back("Sans clé dans B (non comparées) : " + std::to_string(comparison.keylessB));
    for (const auto& [node, count] :
         {std::pair{"A", comparison.notAskedOfA}, std::pair{"B", comparison.notAskedOfB}}) {
        if (count > 0)
            lines.push_back(std::string("Non redemandées à ") + node + " (limite de " +
                            std::to_string(comparison.maxRequeries) +
                            " requêtes par clé atteinte) : " + std::to_string(count) + " clés");
    }
    for (const std::string& key : comparison.onlyInA) lines.push_back("Seulement dans A : " + key);
    for (const std::string& key : comparison.onlyInB) lines.push_back("Seulement dans B : " + key);
    for (const PairDifference& pair : comparison.differing) {
        lines.push_back("Différente : " + pair.key);
        for (const AttributeDifference& difference : pair.attributes)
            lines.push_back("  " + difference.keyword + " : A=" + difference.a +
                            " | B=" + difference.b);
    }
    return lines;
}

std::string ComparisonCsv(const NodeComparison& comparison) {
    std::string csv = "\xEF\xBB\xBF";
    const auto row = [&csv](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i)
            csv += (i > 0 ? "," : "") + CsvField(cells[i]);
        csv += "\r\n";
    };
    row({"type", "clé", "attribut", "A", "B"});
    row({"compte", "réponses", "", std::to_string(comparison.countA),
         std::to_string(comparison.countB)});
    row({"compte", "appariées", "", std::to_string(comparison.matched), ""});
    if (comparison.keylessA > 0 || comparison.keylessB > 0)
        row({"compte", "sans clé", "", std::to_string(comparison.keylessA),
             std::to_string(comparison.keylessB)});
    if (comparison.notAskedOfA > 0 || comparison.notAskedOfB > 0)
        row({"compte", "non redemandées", "", std::to_string(comparison.notAskedOfA),
             std::to_string(comparison.notAskedOfB)});
    for (const std::string& key : comparison.onlyInA) row({"seulement dans A", key, "", "", ""});
    for (const std::string& key : comparison.onlyInB) row({"seulement dans B", key, "", "", ""});
    for (const PairDifference& pair : comparison.differing) {
        for (const AttributeDifference& difference : pair.attributes)
            row({"différente", pair.key, difference.keyword, difference.a, difference.b});
    }
    return csv;
}

}  // namespace lumo::app
