#pragma once

#include <stop_token>

#include "app/QueryOutcome.h"
#include "app/QueryRequest.h"
#include "app/QueryRun.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/net/DicomQuery.h"

namespace lumo::app {

// A C-FIND over DIMSE, the console's own query: the toolkit's query object
// set from the request, the exchange, and its outcome. Free functions; on
// the calling thread.

// The toolkit's query object for a request: AE titles, node, port,
// timeouts, limits, TLS and root, and for the worklist its level "STUDY".
// It hands each response on and holds none: the outcome holds them.
dicom::DicomQuery MakeDicomQuery(const QueryRequest& request);

// The exchange (see RunQuery).
QueryOutcome RunDimseFind(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                          const ResponseHandler& onResponse, std::stop_token stop);

}  // namespace lumo::app
