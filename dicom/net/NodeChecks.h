#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "dicom/net/AssociationReport.h"
#include "dicom/net/DicomPeer.h"
#include "support/Exception.h"

namespace lumo::dicom {

// Checks of a node that query nothing: an echo, and a probe of the services
// it offers this calling AE title.

// A C-ECHO on an association of its own: whether the node is there, knows
// the AE titles and answers Verification. Raises a lumo::Exception with a
// class name and a one-line message when it is not (the texts of a failing
// query: no connection, a rejection, a timeout, an abort), or when the node
// answers with a status other than Success (EDicomStatusError). `report`
// holds what happened, also when it raises. `stop`, once requested (from
// any thread), ends the echo at once: it raises, and the report's cancel
// says Stop. On the calling thread.
void DicomEcho(const DicomPeer& peer, AssociationReport& report, std::stop_token stop = {});

// The services a probe asks about, in this order: Verification, Modality
// Worklist FIND, Patient Root FIND, Study Root FIND.
std::vector<std::string> ProbedServices();

// What a probe learnt of one service.
struct ProbedService {
    std::string sopClass;
    // How the node answered its presentation context, when it did.
    std::optional<ProposedContext> context;
    // Why it did not: the association that proposed it was rejected, or
    // failed otherwise (the error's message).
    std::optional<AssociationRejection> rejection;
    std::string failure;

    // For an accepted FIND service: a C-FIND whose keys match nothing, to
    // learn whether this calling AE title may query.
    struct FindCheck {
        int responses = 0;
        std::optional<std::uint16_t> status;  // none when the exchange failed
        std::string errorComment;
        std::vector<std::uint32_t> offendingElements;
        std::string failure;  // "EClass: message" when the exchange failed
    };
    std::optional<FindCheck> find;

    // Accepted with a transfer syntax that was proposed; one accepted with
    // another is a fault of the node, and unusable.
    bool Accepted() const { return context && context->AcceptedAsProposed(); }
};

// A probe of a node: what it offers this calling AE title. A plain value;
// any thread.
struct DicomProbeResult {
    std::vector<ProbedService> services;     // as ProbedServices() lists them
    std::vector<AssociationReport> reports;  // every association it opened, in order
    // Set when no association could even be asked for (no connection).
    std::optional<ErrorClass> failureClass;
    std::string failure;
    // Set when a stop ended the probe before all was learnt.
    bool stopped = false;

    bool Reached() const { return !failureClass.has_value(); }
    bool AnyAccepted() const;
};

// What one association that proposed services came to: its report (the
// contexts and extended negotiation sub-items as the node answered them),
// and how it failed if it did. A plain value; any thread.
struct DicomNegotiation {
    AssociationReport report;
    std::optional<ErrorClass> failureClass;
    std::string failure;
};

// Proposes `services`, each on a presentation context of its own, with the
// extended negotiation sub-items given, and releases the association as
// soon as it is negotiated. Raises nothing: what failed is in the result.
// `stop` (from any thread) aborts it at once. On the calling thread.
DicomNegotiation DicomNegotiate(const DicomPeer& peer, const std::vector<std::string>& services,
                                const std::vector<ExtendedNegotiation>& extended = {},
                                std::stop_token stop = {});

// Proposes the probed services together; when the node rejects that
// association or fails it, proposes each on an association of its own, so
// that one service the node refuses hides none of the others. Then sends a
// C-FIND that can match nothing (a Patient ID made of a fresh UID) on each
// accepted FIND service. Raises nothing: what failed is in the result. A
// `stop` requested meanwhile (from any thread) ends it at once, `stopped`
// set. On the calling thread.
DicomProbeResult DicomProbe(const DicomPeer& peer, std::stop_token stop = {});

}  // namespace lumo::dicom
