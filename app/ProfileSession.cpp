#include "app/ProfileSession.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/AssociationText.h"
#include "app/QueryIdentifier.h"
#include "app/QueryRun.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"

namespace lumo::app {

namespace {

using dicom::DicomAttribute;
using dicom::DicomDataSet;
using dicom::Variant;

constexpr std::uint16_t kStepGroup = 0x0040;
constexpr std::uint16_t kStepElement = 0x0100;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

// The raw text of an attribute; empty for a sequence.
std::string RawText(const DicomAttribute& attribute) {
    const Variant value = attribute.AttributeWideValue();
    return value.GetType() == Variant::Type::Text ? Trimmed(value.AsText()) : std::string();
}

bool IsSequence(const DicomAttribute& attribute) {
    return attribute.AttributeWideValue().GetType() == Variant::Type::Collection;
}

std::optional<DicomDataSet> HolderOf(const DicomDataSet& dataSet, const ProfileKey& key) {
    if (!key.inStep) return dataSet;
    return StepItem(dataSet);
}

std::string TagText(const DicomAttribute& attribute) {
    char text[16];
    std::snprintf(text, sizeof text, "(%04X,%04X)", attribute.Group(), attribute.Element());
    return text;
}

void AddLines(std::vector<std::string>& lines, const DicomDataSet& dataSet,
              const std::string& indent) {
    const dicom::DicomAttributes attributes = dataSet.DataSetAttributes();
    for (int i = 1; i <= attributes.AttributesCount(); ++i) {
        const DicomAttribute attribute = attributes.AttributesItemAt(i);
        if (attribute.Group() == 0x0000) continue;  // the toolkit strips these
        const std::string head = indent + TagText(attribute) + " " + attribute.AttributeKeyword();
        if (!IsSequence(attribute)) {
            lines.push_back(head + " = \"" + RawText(attribute) + "\"");
            continue;
        }
        const dicom::DicomDataSets items = attribute.AttributeWideValue().AsCollection();
        lines.push_back(head + " : " + std::to_string(items.DataSetsCount()) + " élément(s)");
        for (int j = 1; j <= items.DataSetsCount(); ++j)
            AddLines(lines, items.DataSetsItem(j), indent + "  ");
    }
}

void AddSummary(std::string& summary, const DicomDataSet& dataSet, const std::string& prefix) {
    const dicom::DicomAttributes attributes = dataSet.DataSetAttributes();
    for (int i = 1; i <= attributes.AttributesCount(); ++i) {
        const DicomAttribute attribute = attributes.AttributesItemAt(i);
        if (attribute.Group() == 0x0000) continue;
        if (attribute.Group() == 0x0008 && attribute.Element() == 0x0052) continue;
        if (IsSequence(attribute)) {
            const dicom::DicomDataSets items = attribute.AttributeWideValue().AsCollection();
            if (items.DataSetsCount() > 0)
                AddSummary(summary, items.DataSetsItem(1), attribute.AttributeKeyword() + ">");
            continue;
        }
        const std::string text = RawText(attribute);
        // The usual character set is no news; another one is.
        if (text.empty() || text == "ISO_IR 100") continue;
        summary += " " + prefix + attribute.AttributeKeyword() + "=\"" + text + "\"";
    }
}

}  // namespace

std::optional<DicomDataSet> StepItem(const DicomDataSet& dataSet) {
    const DicomAttribute steps =
        dataSet.DataSetAttributes().AttributesFind(kStepGroup, kStepElement);
    if (!steps.AttributeIsPresent() || !IsSequence(steps)) return std::nullopt;
    const dicom::DicomDataSets items = steps.AttributeWideValue().AsCollection();
    if (items.DataSetsCount() == 0) return std::nullopt;
    return items.DataSetsItem(1);
}

std::string KeyText(const DicomDataSet& dataSet, const ProfileKey& key) {
    const std::optional<DicomDataSet> holder = HolderOf(dataSet, key);
    if (!holder) return {};
    return RawText(holder->DataSetAttributes().AttributesFind(key.group, key.element));
}

bool KeyPresent(const DicomDataSet& dataSet, const ProfileKey& key) {
    const std::optional<DicomDataSet> holder = HolderOf(dataSet, key);
    return holder &&
           holder->DataSetAttributes().AttributesFind(key.group, key.element).AttributeIsPresent();
}

void SetKey(const DicomDataSet& identifier, const ProfileKey& key, const std::string& value) {
    std::optional<DicomDataSet> holder = HolderOf(identifier, key);
    if (!holder) {
        dicom::DicomDataSets steps;
        holder.emplace();
        steps.DataSetsAppend(*holder);
        identifier.DataSetAttributes().AttributesAdd(kStepGroup, kStepElement, Variant(steps));
    }
    holder->DataSetAttributes().AttributesAdd(key.group, key.element, Variant(value));
}

void RemoveKey(const DicomDataSet& identifier, const ProfileKey& key) {
    if (const std::optional<DicomDataSet> holder = HolderOf(identifier, key))
        holder->DataSetAttributes().AttributesRemove(key.group, key.element);
}

std::string QuerySummary(QueryLevel level, const DicomDataSet& identifier,
                         QueryTransport transport) {
    std::string summary =
        std::string(transport == QueryTransport::DicomWeb ? "QIDO-RS " : "C-FIND ") +
        (level == QueryLevel::Worklist ? "WORKLIST" : LevelText(level));
    AddSummary(summary, identifier, "");
    return summary;
}

std::vector<std::string> IdentifierLines(const DicomDataSet& identifier) {
    std::vector<std::string> lines;
    AddLines(lines, identifier, "");
    return lines;
}

bool Refused(const QueryOutcome& outcome) {
    return outcome.failure && outcome.failure->errorClass == ErrorClass::EDicomStatusError;
}

std::string AnswerText(const QueryOutcome& outcome) {
    const int count = outcome.ResponseCount();
    const dicom::AssociationReport& report = outcome.report;
    if (outcome.failure && !Refused(outcome))
        return outcome.failure->ClassName() + " : " + outcome.failure->message;
    std::string text = count == 0   ? "aucune réponse"
                       : count == 1 ? "1 réponse"
                                    : std::to_string(count) + " réponses";
    if (!report.http.empty()) {
        // Over HTTP no C-CANCEL: the search asks no further than its limit.
        if (report.cancel == dicom::CancelReason::Limit) text += " (limit atteint)";
        const dicom::HttpExchange& last = report.http.back();
        if (Refused(outcome))
            text += ", HTTP " + std::to_string(last.status) +
                    (last.reason.empty() ? "" : " " + last.reason);
        if (report.truncation) text += " ; " + TruncationText(*report.truncation);
        return text;
    }
    if (report.cancel == dicom::CancelReason::Limit) text = "annulée après " + text;
    if (report.finalStatus && *report.finalStatus != dicom::DimseStatus::Success &&
        report.cancel == dicom::CancelReason::None)
        text += ", statut " + StatusText(*report.finalStatus);
    if (!report.errorComment.empty()) text += " (« " + report.errorComment + " »)";
    return text;
}

ProfileSession::ProfileSession(const QueryRequest& base, const ProfileOptions& options,
                               std::stop_token stop, std::function<void(int)> progress)
    : base_(base), options_(options), stop_(std::move(stop)), progress_(std::move(progress)) {}

DicomDataSet ProfileSession::Identifier(QueryLevel level, const QueryKeys& keys) {
    QueryRequest request;
    request.level = level;
    request.keys = keys;
    return BuildIdentifier(request);
}

QueryRequest ProfileSession::RequestAt(QueryLevel level) const {
    QueryRequest request = base_;
    request.level = level;
    request.keys = QueryKeys();
    request.keepResponses = true;
    return request;
}

std::string ProfileSession::Exhausted() const {
    if (stop_.stop_requested()) return "profil arrêté";
    const std::size_t bound = options_.maxQueries - std::min(reserved_, options_.maxQueries);
    if (static_cast<std::size_t>(profile_.queries) >= bound)
        return "limite de " + std::to_string(bound) + " requêtes atteinte";
    if (std::chrono::steady_clock::now() - start_ >= options_.maxTime)
        return "durée de " + std::to_string(options_.maxTime.count()) + " s dépassée";
    return {};
}

std::optional<QueryOutcome> ProfileSession::Ask(QueryLevel level, const DicomDataSet& identifier,
                                                std::uint32_t limit) {
    if (const std::string why = Exhausted(); !why.empty()) {
        if (cutShortBy_.empty()) cutShortBy_ = why;
        return std::nullopt;
    }
    QueryRequest request = RequestAt(level);
    request.node.limits.maxResults = limit;
    ++profile_.queries;
    QueryOutcome outcome = RunQuery(request, identifier, nullptr, stop_);
    if (progress_) progress_(profile_.queries);
    // A query the stop cut short says nothing of the node.
    if (outcome.report.cancel == dicom::CancelReason::Stop) {
        if (cutShortBy_.empty()) cutShortBy_ = "profil arrêté";
        return std::nullopt;
    }
    if (!outcome.failure)
        ++answered_;
    else if (firstFailure_.empty())
        firstFailure_ = AnswerText(outcome);
    return outcome;
}

std::string ProfileSession::EveryQueryFailed() const {
    if (answered_ > 0 || firstFailure_.empty()) return {};
    const std::string tally = " (" + std::to_string(profile_.queries) +
                              " requête(s) ; la première : " + firstFailure_ + ")";
    if (OverHttp())
        return "le service DICOMweb répond à la vérification mais à aucune recherche QIDO-RS" +
               tally;
    return "le nœud accepte l'association mais n'a répondu à aucun C-FIND" + tally;
}

ProfileFinding ProfileSession::Finding(ProfileSection section, std::string id, std::string title,
                                       QueryLevel level, const DicomDataSet& identifier,
                                       const std::optional<QueryOutcome>& outcome) const {
    ProfileFinding finding;
    finding.section = section;
    finding.id = std::move(id);
    finding.title = std::move(title);
    finding.query = QuerySummary(level, identifier, base_.transport);
    if (outcome) finding.answer = AnswerText(*outcome);
    finding.identifier = IdentifierLines(identifier);
    if (outcome)
        for (const dicom::HttpExchange& exchange : outcome->report.http)
            finding.identifier.push_back(exchange.method + " " + exchange.url);
    return finding;
}

}  // namespace lumo::app
