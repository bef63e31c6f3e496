#include "app/QueryOutcome.h"

#include <string>
#include <utility>

#include "app/AssociationText.h"
#include "logging/uApplicationLogger.h"

namespace lumo::app {

namespace {

// Text a node sent in bytes its character set does not have is listed with
// a mark; the log says which response, once.
void LogUndecodable(const dicom::DicomDataSet& response, int number) {
    const std::string charset = response.DataSetUndecodableCharset();
    if (charset.empty()) return;
    AppLogger().Log("Réponse " + std::to_string(number) +
                        " : texte illisible dans le jeu de caractères \"" + charset +
                        "\", marqué \uFFFD",
                    LogLevel::Finding, 0);
}

// "C-FIND failed with status A700 Out of resources from <node>: <Error
// Comment>", and the Offending Element when the node named one.
std::string StatusFailureText(const dicom::DicomFindResult& result,
                              const dicom::AssociationReport& report) {
    std::string message =
        "C-FIND failed with status " + StatusText(result.status) + " from " + result.peer;
    if (!result.errorComment.empty()) message += ": " + result.errorComment;
    for (std::uint32_t tag : report.offendingElements)
        message += " ; Offending Element (0000,0901) : " + TagText(tag);
    return message;
}

}  // namespace

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

QueryOutcome RunQuery(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                      const dicom::DicomQuery::ResponseHandler& onResponse, std::stop_token stop) {
    QueryOutcome outcome;
    outcome.request = request;
    outcome.requested = Now();
    // Kept as they arrive, so that a query that fails half-way still shows
    // what it received.
    dicom::DicomDataSets received;
    int count = 0;
    const auto keep = [&](const dicom::DicomDataSet& response) {
        if (request.keepResponses) received.DataSetsAppend(response);
        LogUndecodable(response, ++count);
        if (onResponse) onResponse(response);
    };
    dicom::DicomQuery query = MakeDicomQuery(request);
    try {
        dicom::DicomFindResult result = query.QueryFind(identifier, keep, std::move(stop));
        outcome.report = query.QueryLastReport();
        outcome.responses = std::move(result.responses);
        outcome.status = result.status;
        if (!result.Completed()) {
            outcome.failure = QueryFailure{ErrorClass::EDicomStatusError,
                                           StatusFailureText(result, outcome.report)};
        } else {
            outcome.replied = Now();
        }
    } catch (const std::exception& e) {
        outcome.report = query.QueryLastReport();
        outcome.responses = std::move(received);
        outcome.failure = QueryFailure::Of(e, outcome.report);
    }
    return outcome;
}

}  // namespace lumo::app
