#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/QueryOutcome.h"
#include "dicom/net/DicomRetrieve.h"

// A retrieval (C-MOVE, C-GET) as the operator reads it: the live counts,
// the statuses in words, and the lines that end it, each failure explained
// with what to do. Used by the window, the command line and the log.
// Stateless; any thread.
namespace lumo::app {

// "A801 Move Destination unknown": a retrieval's status by the standard's
// name; one the standard does not define says so.
std::string RetrieveStatusText(std::uint16_t status);

// "Restant 3 · Terminées 9 · Échecs 0 · Avertissements 0 · Reçues 9"; a
// count the node left out shows as "-".
std::string ProgressLine(const dicom::RetrieveProgress& progress);

// The lines that end a retrieval: the final status in words with what it
// means here, the counts, what the check expected, the SOP classes and
// transfer syntaxes received, the duration and the rates, the Failed SOP
// Instance UID List, the instances refused or not as asked, each
// connection back, and for each failure the likely cause and what to do (a
// move destination to declare on the node, a node that connects back to
// nobody, an early Success, storage contexts a C-GET was refused).
std::vector<std::string> RetrievalLines(const QueryOutcome& outcome);

// The reports of every association of a retrieval: its own, then each
// store association of a C-MOVE.
// Only the first few store associations are kept in full.
std::vector<dicom::AssociationReport> RetrievalReports(const QueryOutcome& outcome);
// "… et N autres associations de stockage, non détaillées" when some were
// not kept; empty otherwise.
std::string MoreStoreReportsLine(const QueryOutcome& outcome);

}  // namespace lumo::app
