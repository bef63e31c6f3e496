#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <stop_token>
#include <string>

#include "app/QueryRequest.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/net/AssociationReport.h"
#include "dicom/net/DicomQuery.h"
#include "dicom/net/DimseStatus.h"
#include "support/DateTime.h"
#include "support/Exception.h"

namespace lumo::app {

// Why a query gave no answer, as the operator reads it: the error's class
// and its message. A plain value; any thread.
struct QueryFailure {
    ErrorClass errorClass = ErrorClass::Exception;
    std::string message;

    std::string ClassName() const { return ErrorClassName(errorClass); }
    static QueryFailure Of(const std::exception& e);
    // The failure of an exchange: its message followed by what the
    // association report adds to it (a decoded rejection or abort, the
    // service a node refused).
    static QueryFailure Of(const std::exception& e, const dicom::AssociationReport& report);
};

// How a query went, for whoever shows or uses it (the window's labels, the
// batch, the worklist check, the command line): every response, the node's
// final status, the failure if any, and when it was asked and answered. A
// query is answered when it ran to the node's final status and that status
// completed it; it failed when it has a failure; with neither it ended
// before it was sent. A plain value; any thread.
struct QueryOutcome {
    QueryRequest request;
    dicom::DicomDataSets responses;
    std::uint16_t status = dicom::DimseStatus::Success;
    std::optional<QueryFailure> failure;
    dicom::AssociationReport report;  // of the exchange, as far as it went
    TDateTime requested = 0;
    std::optional<TDateTime> replied;

    bool Answered() const { return replied.has_value() && !failure; }
    // The responses received, held or not.
    int ResponseCount() const { return report.responses; }
};

// Sends the identifier to the request's node and waits for the end. The
// outcome holds the failure of the exchange, or a failure status as
// EDicomStatusError; nothing raises. `onResponse` sees each response as it
// arrives (see DicomQuery::QueryRun); `stop` cancels the query (see
// DicomQuery::QueryFind), and the report then says why. On the calling
// thread.
QueryOutcome RunQuery(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                      const dicom::DicomQuery::ResponseHandler& onResponse = nullptr,
                      std::stop_token stop = {});

}  // namespace lumo::app
