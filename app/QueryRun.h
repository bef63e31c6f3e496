#pragma once

#include <functional>
#include <stop_token>

#include "app/QueryOutcome.h"
#include "app/QueryRequest.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/net/DicomRetrieve.h"

namespace lumo::app {

// A response as it arrives, with its number from 1: the listing, the relay
// and the window's count see each one before the next is read.
using ResponseHandler = std::function<void(const dicom::DicomDataSet& response, int number)>;
// A retrieval's pending response as it arrives, with what the console
// received so far; on the exchange's thread.
using RetrievalHandler = std::function<void(const dicom::RetrieveProgress& progress)>;

// Sends the identifier to the request's node by the request's service and
// transport, and waits for the end. The outcome holds the failure of the
// exchange, or a failure status as EDicomStatusError; nothing raises.
// `onResponse` sees each response as it arrives; an error it raises ends
// the query as a failure. `stop` cancels the query, and the report then
// says why. A retrieval hands its pending responses to `onRetrieval`. On
// the calling thread.
QueryOutcome RunQuery(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                      const ResponseHandler& onResponse = nullptr, std::stop_token stop = {},
                      const RetrievalHandler& onRetrieval = nullptr);

}  // namespace lumo::app
