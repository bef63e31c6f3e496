#include "app/NodeComparison.h"

#include <cstdint>
#include <unordered_map>
#include <utility>

#include "app/QueryIdentifier.h"
#include "app/QueryRun.h"
#include "app/ResponseExport.h"
#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/Variant.h"
#include "support/Global_Utils.h"

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
    return TrimBlanks(dicom::VarToStr(
        dataSet.DataSetAttributes().AttributesFind(group, element).AttributeWideValue()));
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
    if (value.GetType() != Variant::Type::Collection) return TrimBlanks(dicom::VarToStr(value));
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

// The attributes of both, walked in tag order side by side.
std::vector<AttributeDifference> Differences(const DicomDataSet& a, const DicomDataSet& b) {
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
        if (tag != kSpecificCharacterSet && leftText != rightText)
            differences.push_back({shown.AttributeKeyword(), leftText, rightText});
    }
    return differences;
}

std::unordered_map<std::string, int> ByKey(QueryLevel level, const DicomDataSets& responses) {
    std::unordered_map<std::string, int> index;
    index.reserve(static_cast<std::size_t>(responses.DataSetsCount()));
    for (int i = 1; i <= responses.DataSetsCount(); ++i)
        index.emplace(MatchKey(level, responses.DataSetsItem(i)), i);
    return index;
}

// The responses of `asked` found again by key alone, for the keys that only
// `other` answered with.
DicomDataSets AskAgainByKey(const QueryRequest& asked, const DicomDataSets& other,
                            const std::vector<std::string>& keys, const std::stop_token& stop) {
    DicomDataSets found;
    if (keys.empty()) return found;
    std::unordered_map<std::string, int> wanted;
    for (const std::string& key : keys) wanted.emplace(key, 0);
    for (int i = 1; i <= other.DataSetsCount(); ++i) {
        const DicomDataSet response = other.DataSetsItem(i);
        const std::string key = MatchKey(asked.level, response);
        if (!wanted.count(key)) continue;
        if (stop.stop_requested()) break;
        const QueryOutcome again = RunQuery(asked, KeyIdentifier(asked.level, response), {}, stop);
        for (int j = 1; again.Answered() && j <= again.responses.DataSetsCount(); ++j) {
            if (MatchKey(asked.level, again.responses.DataSetsItem(j)) == key) {
                found.DataSetsAppend(again.responses.DataSetsItem(j));
                break;
            }
        }
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

NodeComparison CompareResponses(QueryLevel level, const DicomDataSets& a, const DicomDataSets& b) {
    NodeComparison comparison;
    comparison.countA = a.DataSetsCount();
    comparison.countB = b.DataSetsCount();
    const std::unordered_map<std::string, int> inB = ByKey(level, b);
    std::unordered_map<std::string, bool> seenInA;
    seenInA.reserve(static_cast<std::size_t>(comparison.countA));
    for (int i = 1; i <= comparison.countA; ++i) {
        const DicomDataSet left = a.DataSetsItem(i);
        const std::string key = MatchKey(level, left);
        seenInA.emplace(key, true);
        const auto found = inB.find(key);
        if (found == inB.end()) {
            comparison.onlyInA.push_back(key);
            continue;
        }
        ++comparison.matched;
        std::vector<AttributeDifference> differences =
            Differences(left, b.DataSetsItem(found->second));
        if (!differences.empty()) comparison.differing.push_back({key, std::move(differences)});
    }
    for (int j = 1; j <= comparison.countB; ++j) {
        const std::string key = MatchKey(level, b.DataSetsItem(j));
        if (!seenInA.count(key)) comparison.onlyInB.push_back(key);
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
                           std::stop_token stop) {
    ComparisonRun run;
    // The comparison reads every response of both sides.
    QueryRequest a = asked;
    a.keepResponses = true;
    QueryRequest b = a;
    b.node = bNode;
    const DicomDataSet identifier = BuildIdentifier(a);
    // A stop ends the run at once: half the answers compare to nothing.
    const auto stopped = [&] { return run.stopped = stop.stop_requested(); };
    run.a = RunQuery(a, identifier, {}, stop);
    if (stopped()) return run;
    run.b = RunQuery(b, identifier, {}, stop);
    if (stopped() || !run.Answered()) return run;
    const NodeComparison first = CompareResponses(a.level, run.a.responses, run.b.responses);
    const DicomDataSets moreA = AskAgainByKey(a, run.b.responses, first.onlyInB, stop);
    const DicomDataSets moreB = AskAgainByKey(b, run.a.responses, first.onlyInA, stop);
    if (stopped()) return run;
    run.comparison =
        CompareResponses(a.level, Joined(run.a.responses, moreA), Joined(run.b.responses, moreB));
    run.comparison.countA = run.a.responses.DataSetsCount();
    run.comparison.countB = run.b.responses.DataSetsCount();
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
    for (const std::string& key : comparison.onlyInA) row({"seulement dans A", key, "", "", ""});
    for (const std::string& key : comparison.onlyInB) row({"seulement dans B", key, "", "", ""});
    for (const PairDifference& pair : comparison.differing) {
        for (const AttributeDifference& difference : pair.attributes)
            row({"différente", pair.key, difference.keyword, difference.a, difference.b});
    }
    return csv;
}

}  // namespace lumo::app
