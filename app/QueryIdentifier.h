#pragma once

#include "app/QueryRequest.h"
#include "dicom/data/DicomDataSet.h"

namespace lumo::app {

// The identifiers (request data sets) the console sends, built from a
// request by tables that list, tag by tag, what each kind of query holds.
// Free functions: the data set returned belongs to the caller; any thread.

// The identifier of the request's kind. Worklist: the accession number and
// patient ID at the top level, and one scheduled-step item holding the
// modality, the start date and the step's return keys, and "ISO_IR 100" in
// (0008,0005) only when a key holds text beyond ASCII. C-FIND: the keys and
// return keys of its level, with the level in (0008,0052), "ISO_IR 100" in
// (0008,0005) and the command-group elements the toolkit strips.
// A retrieval's (C-MOVE, C-GET) is BuildRetrieveIdentifier's.
dicom::DicomDataSet BuildIdentifier(const QueryRequest& request);

// A relayed worklist query's identifier with its caller's other keys asked
// back: each attribute of the caller's `request` that `identifier` lacks is
// added as an empty key (an empty sequence for a sequence), which every
// value matches, at the top level, and in the scheduled-step item those of
// the caller's first scheduled-step item. What the identifier holds stays,
// so matching is unchanged. The character set and the query level are not
// keys and are not added.
void AddReturnKeysOf(const dicom::DicomDataSet& request, dicom::DicomDataSet& identifier);

// The identifier of a C-MOVE or C-GET: the level in (0008,0052) and the
// unique keys of that level and of those above it, as typed (a UID list
// where several are separated by "\"): Patient ID for a patient, the
// Study, Series and SOP Instance UIDs down to the level otherwise.
dicom::DicomDataSet BuildRetrieveIdentifier(const QueryRequest& request);

// The worklist check's own identifier: level "STUDY", a top level and one
// scheduled-step item. With an accession text (blanks only count as a text)
// the top level matches it and the item asks for the scheduled start date
// back; without one the item matches the one-day range "date-date" and asks
// for the accession number back. The modality goes into the item as typed.
dicom::DicomDataSet BuildWorklistCheckIdentifier(const QueryRequest& request);

}  // namespace lumo::app
