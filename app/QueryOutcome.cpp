#include "app/QueryOutcome.h"

#include "app/AssociationText.h"

#include <algorithm>

namespace lumo::app {

QueryFailure QueryFailure::Of(const std::exception& e) {
    const auto* own = dynamic_cast<const Exception*>(&e);
    return {own ? own->Class() : ErrorClass::Exception, e.what()};
}

QueryFailure QueryFailure::Of(const std::exception& e, const dicom::AssociationReport& report) {
    QueryFailure failure = Of(e);
    const std::string detail = FailureDetail(report);
    if (!detail.empty()) failure.message += " — " + detail;
    return failure;
}

std::uint64_t RetrievalOutcome::Wanted() const {
    return std::max<std::uint64_t>(result.counts.completed.value_or(0), expected.value_or(0));
}

bool RetrievalOutcome::Shortfall() const {
    return result.finalReceived && result.status == dicom::DimseStatus::Success &&
           received.accepted < Wanted();
}

std::string CancelLine(const QueryOutcome& outcome) {
    switch (outcome.report.cancel) {
        case dicom::CancelReason::Stop:
            return "Annulée après " + std::to_string(outcome.report.responses) + " réponses";
        case dicom::CancelReason::Limit:
            return "Limite de " + std::to_string(outcome.request.node.limits.maxResults) +
                   " réponses atteinte : requête annulée";
        case dicom::CancelReason::None:
            break;
    }
    if (outcome.report.CancelledByNode()) return NodeCancelText(outcome.report);
    return {};
}

std::string TruncationLine(const QueryOutcome& outcome) {
    return outcome.report.truncation ? TruncationText(*outcome.report.truncation) : std::string();
}

}  // namespace lumo::app
