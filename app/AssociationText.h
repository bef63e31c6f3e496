#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dicom/net/AssociationReport.h"

// The association report and the DIMSE statuses as the operator reads them:
// French sentences around the standard's names of services, transfer
// syntaxes, statuses and upper-layer reasons. Used by the command line
// (--verbose), the Diagnostic tab and the log. Stateless; any thread.
namespace lumo::app {

// "A700 Out of resources"; a status the standard does not define says so.
std::string StatusText(std::uint16_t status);

// "Study Root Query/Retrieve Information Model – FIND" (the UID for a
// service the tables do not name).
std::string ServiceText(const std::string& sopClassUID);
std::string TransferSyntaxText(const std::string& transferSyntaxUID);

// "acceptée (Explicit VR Little Endian)" or "refusée (abstract syntax not
// supported)"; a context accepted with a transfer syntax that was never
// proposed is said to be the node's protocol fault.
std::string ContextResultText(const dicom::ProposedContext& context);

// "rejet permanent, source : service user, raison : called AE title not
// recognized".
std::string RejectionText(const dicom::AssociationRejection& rejection);
// "source : service provider, raison : unexpected PDU".
std::string AbortText(const dicom::AssociationAbort& abort);

// "(0010,0020)", for Offending Element.
std::string TagText(std::uint32_t tag);

// "Réponses interrompues par le nœud après N réponses (statut FE00 non
// demandé)": a node that ended with Cancel this side never asked for.
std::string NodeCancelText(const dicom::AssociationReport& report);

// The whole report, a line each: AE titles and peer, every proposed context
// and what became of it, maximum PDU both ways, the node's implementation,
// how the association ended, its duration, the responses and the final
// status with its details. For an exchange with a DICOMweb service: its
// base URL, the credentials shown (their kind, never a secret), TLS, each
// request (method, URL, status, content type, bytes, duration, answers of
// the page, what WWW-Authenticate and Warning said), the duration, the
// responses and what the service left out.
std::vector<std::string> ReportLines(const dicom::AssociationReport& report);

// "Réponse tronquée par le service après 2 réponses : il renvoie sa première
// page pour la suite (offset)", or its Warning when it left answers out.
std::string TruncationText(const dicom::AssociationReport::Truncation& truncation);

// What a failure's message leaves out and the report knows, to follow it:
// the decoded rejection (with the service asked for and the probe to run
// when the node gave no reason), the service a node accepted no context
// for, the source and reason of an abort. Empty when there is nothing to add.
std::string FailureDetail(const dicom::AssociationReport& report);

}  // namespace lumo::app
