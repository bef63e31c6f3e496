#include "app/QueryRun.h"

#include <utility>

#include "app/DimseFind.h"
#include "app/DimseRetrieve.h"

namespace lumo::app {

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
    }
    QueryOutcome outcome;
    outcome.request = request;
    outcome.failure = QueryFailure{ErrorClass::EConvertError, "Requête sans service connu"};
    return outcome;
}

}  // namespace lumo::app
