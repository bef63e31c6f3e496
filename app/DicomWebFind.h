#pragma once

#include <optional>
#include <stop_token>
#include <string>

#include "app/QueryOutcome.h"
#include "app/QueryRequest.h"
#include "app/QueryRun.h"
#include "dicom/data/DicomDataSet.h"

namespace lumo::app {

// The console's C-FIND over DICOMweb: the identifier sent to the request's
// node as a QIDO-RS search, its answers listed, exported, saved and compared
// as C-FIND responses are. Free functions; on the calling thread.

// Why a request cannot go over DICOMweb, in a sentence for the operator:
// the worklist and the patient level have no QIDO-RS search. nullopt for
// the study, series and image levels.
std::optional<std::string> DicomWebRefusal(const QueryRequest& request);

// The search (see RunQuery). A refused level fails as EUsageError with the
// sentence above, and nothing is sent.
QueryOutcome RunDicomWebFind(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                             const ResponseHandler& onResponse, std::stop_token stop);

}  // namespace lumo::app
