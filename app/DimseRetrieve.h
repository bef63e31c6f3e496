#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "app/QueryOutcome.h"
#include "app/QueryRequest.h"
#include "app/QueryRun.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/net/ReceivedInstances.h"

namespace lumo::app {

// A retrieval over DIMSE, C-MOVE or C-GET: what it asks checked against the
// level, a C-FIND first when its count or its SOP classes are wanted, the
// console's storage receiver for a C-MOVE, the exchange, and one outcome
// with the retrieval's part. Free functions; on the calling thread.

// The UIDs of a key as typed: several separated by "\", blanks around each
// left out.
std::vector<std::string> UidList(const std::string& text);

// The keys a retrieval at the request's level is checked against.
dicom::RetrieveKeys RetrieveKeysOf(const QueryRequest& request);

// The key the level needs and the request lacks, by its field's label
// ("StudyUID"); empty when none is missing.
std::string MissingRetrieveKey(const QueryRequest& request);

// What a C-FIND at the retrieval's level says is there: the instances it
// counts, the SOP classes they are of, or why it could not tell.
struct InstanceCensus {
    std::optional<std::uint64_t> count;
    std::vector<std::string> sopClasses;
    std::string failure;
};
// Asks the request's node: for a study or a patient, the study's Number of
// Study Related Instances and SOP Classes in Study, walking down its
// series and images when the node leaves them out and the request asks for
// a check (else the classes stay unknown); for a series or an image, its
// images. Raises nothing.
InstanceCensus TakeInstanceCensus(const QueryRequest& request, std::stop_token stop);

// The exchange (see RunQuery).
QueryOutcome RunDimseRetrieve(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                              const RetrievalHandler& onRetrieval, std::stop_token stop);

}  // namespace lumo::app
