#include "app/QueryOutcome.h"

#include <string>
#include <utility>

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

}  // namespace

QueryFailure QueryFailure::Of(const std::exception& e) {
    const auto* own = dynamic_cast<const Exception*>(&e);
    return {own ? own->Class() : ErrorClass::Exception, e.what()};
}

QueryOutcome RunQuery(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                      const dicom::DicomQuery::ResponseHandler& onResponse) {
    QueryOutcome outcome;
    outcome.request = request;
    outcome.requested = Now();
    // Kept as they arrive, so that a query that fails half-way still shows
    // what it received.
    dicom::DicomDataSets received;
    const auto keep = [&](const dicom::DicomDataSet& response) {
        received.DataSetsAppend(response);
        LogUndecodable(response, received.DataSetsCount());
        if (onResponse) onResponse(response);
    };
    try {
        dicom::DicomFindResult result = MakeDicomQuery(request).QueryFind(identifier, keep);
        outcome.responses = std::move(result.responses);
        outcome.status = result.status;
        if (!result.Completed()) {
            outcome.failure = QueryFailure{ErrorClass::EDicomStatusError, result.FailureText()};
        } else {
            outcome.replied = Now();
        }
    } catch (const std::exception& e) {
        outcome.responses = std::move(received);
        outcome.failure = QueryFailure::Of(e);
    }
    return outcome;
}

}  // namespace lumo::app
