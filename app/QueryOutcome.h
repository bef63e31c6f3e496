#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "app/QueryRequest.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/net/AssociationReport.h"
#include "dicom/net/DicomRetrieve.h"
#include "dicom/net/DimseStatus.h"
#include "dicom/net/ReceivedInstances.h"
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

// What a retrieval (C-MOVE, C-GET) brought, beside the outcome's status,
// failure and report: the node's counts and final details, what the
// console received, and with a check the count a C-FIND gave first. A plain
// value; any thread.
struct RetrievalOutcome {
    dicom::RetrieveResult result;
    dicom::ReceivedTally received;
    std::optional<std::uint64_t> expected;  // the check's count
    std::string expectedFailure;            // why there is none, when a check was asked
    std::string moveDestination;            // C-MOVE
    std::int32_t storePort = 0;             // C-MOVE: where the receiver listened
    std::string localAddress;               // this side's address as the node saw it

    // The most instances that should have come: the node's completed count,
    // or the check's when it says more.
    std::uint64_t Wanted() const;
    // The node said it succeeded, yet fewer arrived whole and as asked than
    // it counted as completed (or than the check counted).
    bool Shortfall() const;
};

// How a query went, for whoever shows or uses it (the window's labels, the
// batch, the worklist check, the relay, the command line): the responses
// held, the node's final status, the failure if any, and when it was asked
// and answered. A query is answered when it ran to the node's final status
// and that status completed it; it failed when it has a failure; with
// neither it ended before it was sent. A plain value; any thread.
struct QueryOutcome {
    QueryRequest request;
    // Held when the request keeps its responses; counted in any case by
    // the report.
    dicom::DicomDataSets responses;
    std::uint16_t status = dicom::DimseStatus::Success;
    std::optional<QueryFailure> failure;
    dicom::AssociationReport report;  // of the exchange, as far as it went
    TDateTime requested = 0;
    std::optional<TDateTime> replied;
    std::optional<RetrievalOutcome> retrieval;  // C-MOVE and C-GET only

    bool Answered() const { return replied.has_value() && !failure; }
    // The responses received, held or not.
    int ResponseCount() const { return report.responses; }
    // Whether this side cut the query short: its stop, or its limit on
    // responses. The node's matches did not all come then.
    bool CutShort() const { return report.cancel != dicom::CancelReason::None; }
};

// The line after the blocks of a query this side cancelled: "Annulée après
// N réponses", or "Limite de N réponses atteinte : requête annulée"; of a
// query the node ended with Cancel unasked: "Réponses interrompues par le
// nœud après N réponses (statut FE00 non demandé)"; empty otherwise.
std::string CancelLine(const QueryOutcome& outcome);

// The line after the blocks of a search whose service left answers out that
// could not be had: "Réponse tronquée par le service après N réponses : ..."
// (TruncationText); empty otherwise.
std::string TruncationLine(const QueryOutcome& outcome);

}  // namespace lumo::app
