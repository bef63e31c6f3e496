#include "app/DicomWebFind.h"

#include <exception>
#include <utility>

#include "dicom/web/QidoSearch.h"

namespace lumo::app {

std::optional<std::string> DicomWebRefusal(const QueryRequest& request) {
    switch (request.level) {
        case QueryLevel::Worklist:
            return "La worklist n'a pas de recherche QIDO-RS en DICOMweb : interrogez-la en DIMSE "
                   "(transport DIMSE)";
        case QueryLevel::Patient:
            return "Le niveau patient n'a pas de recherche QIDO-RS en DICOMweb : interrogez-le en "
                   "DIMSE, ou demandez les études (study) en DICOMweb";
        default:
            return std::nullopt;
    }
}

QueryOutcome RunDicomWebFind(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                             const ResponseHandler& onResponse, std::stop_token stop) {
    QueryOutcome outcome;
    outcome.request = request;
    outcome.requested = Now();
    if (const std::optional<std::string> refusal = DicomWebRefusal(request)) {
        outcome.failure = QueryFailure{ErrorClass::EUsageError, *refusal};
        return outcome;
    }
    int count = 0;
    const auto take = [&](const dicom::DicomDataSet& response) {
        ++count;
        if (request.keepResponses) outcome.responses.DataSetsAppend(response);
        if (onResponse) onResponse(response, count);
    };
    try {
        dicom::QidoFind(request.node.WebService(), request.node.limits, identifier, take,
                        std::move(stop), outcome.report);
        outcome.replied = Now();
    } catch (const std::exception& e) {
        outcome.failure = QueryFailure::Of(e);
    }
    return outcome;
}

}  // namespace lumo::app
