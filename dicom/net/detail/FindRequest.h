#pragma once

// Private to dicom/: one C-FIND request on an association that is open,
// from the request to the node's final response. A query's own association
// runs one; a C-GET's runs the census that names the classes it will
// receive before its retrieval, on the same association.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmnet/assoc.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "dicom/data/DicomDataSet.h"
#include "dicom/net/detail/Association.h"
#include "dicom/net/detail/ResponseReceiver.h"

namespace lumo::dicom::detail {

// " after 2 responses": how far an exchange got when the node ended it.
std::string AfterResponses(int received);

// Sends a C-FIND-RQ of `sopClass` with `identifier` on the accepted context
// `presID` and reads its responses to the final one. Each pending response
// that announces a data set, decoded, goes to `onResponse` on the calling
// thread before the next is read; once a cancel has gone out (the
// association's stop), what follows is read and left out. Each response
// must be whole within the response timeout, and after a cancel what is left
// within one more. Returns the final response's command, or nothing when
// the node let that bound pass after the cancel (the caller aborts). Raises
// as Association::Fail and FailProtocol do (the association aborted); an
// exception from `onResponse` leaves too. `noteTimes`: the request's and
// the responses' times go into the association's report.
std::optional<ResponseCommand> RunFindRequest(
    Association& association, T_ASC_PresentationContextID presID, const char* sopClass,
    DcmDataset& identifier, std::size_t maxResponseBytes,
    const std::function<void(const DicomDataSet& response)>& onResponse, bool noteTimes);

}  // namespace lumo::dicom::detail
