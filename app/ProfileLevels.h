#pragma once

#include <optional>

#include "app/ProfileSession.h"
#include "app/QueryRequest.h"
#include "dicom/data/DicomDataSet.h"

namespace lumo::app {

// The battery of one query level. A broad query (the console's identifier
// of the level, keys empty, cut short by a C-CANCEL) finds a few real
// entries and shows which return keys the node fills and which character
// sets it declares; one of them becomes the reference entry, and small
// queries built from its values, each with an answer known in advance,
// show which keys the node ignores, how it matches (exact values,
// wildcards, case of names, trailing spaces, date and time ranges, lists of
// UIDs, sequence matching in the worklist), what it returns for a key not
// asked, how it takes a key in ISO_IR 192, and whether it caps a broad
// answer. The series and image levels look inside the reference entry of
// the level above (`parent`). Returns the reference entry, or nullopt when
// the level has none. On the session's thread.
std::optional<dicom::DicomDataSet> ProfileLevel(ProfileSession& session, QueryLevel level,
                                                const std::optional<dicom::DicomDataSet>& parent);

}  // namespace lumo::app
