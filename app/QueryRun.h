#pragma once

#include <functional>
#include <stop_token>

#include "app/QueryOutcome.h"
#include "app/QueryRequest.h"
#include "dicom/data/DicomDataSet.h"

namespace lumo::app {

// A response as it arrives, with its number from 1: the listing, the relay
// and the window's count see each one before the next is read.
using ResponseHandler = std::function<void(const dicom::DicomDataSet& response, int number)>;

// Sends the identifier to the request's node by the request's service and
// transport, and waits for the end. The outcome holds the failure of the
// exchange, or a failure status as EDicomStatusError; nothing raises.
// `onResponse` sees each response as it arrives; an error it raises ends
// the query as a failure. `stop` cancels the query, and the report then
// says why. On the calling thread.
QueryOutcome RunQuery(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                      const ResponseHandler& onResponse = nullptr, std::stop_token stop = {});

}  // namespace lumo::app
