#include "app/QueryRun.h"

#include <utility>

#include "app/DicomWebFind.h"
#include "app/DimseFind.h"
#include "app/DimseRetrieve.h"

namespace lumo::app {

namespace {

QueryOutcome Refused(const QueryRequest& request, const std::string& why) {
    QueryOutcome outcome;
    outcome.request = request;
    outcome.failure = QueryFailure{ErrorClass::EConvertError, why};
    return outcome;
}

}  // namespace

// One runner per service and transport, each filling the same outcome. A
// switch without a default: a service or transport added to the request
// and not given its runner here does not compile.
QueryOutcome RunQuery(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                      const ResponseHandler& onResponse, std::stop_token stop,
                      const RetrievalHandler& onRetrieval) {
    switch (request.transport) {
        case QueryTransport::Dimse:
            switch (request.service) {
                case QueryService::Find:
                    return RunDimseFind(request, identifier, onResponse, std::move(stop));
                case QueryService::Move:
                case QueryService::Get:
                    return RunDimseRetrieve(request, identifier, onRetrieval, std::move(stop));
            }
            break;
        case QueryTransport::DicomWeb:
            switch (request.service) {
                case QueryService::Find:
                    return RunDicomWebFind(request, identifier, onResponse, std::move(stop));
                case QueryService::Move:
                case QueryService::Get:
                    // QIDO-RS only searches; retrieval goes over DIMSE.
                    return Refused(request, "C-MOVE et C-GET passent par DIMSE, pas par DICOMweb");
            }
            break;
    }
    return Refused(request, "Requête sans service connu");
}

}  // namespace lumo::app
