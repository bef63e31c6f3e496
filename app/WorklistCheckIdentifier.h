#pragma once

#include <string>

#include "dicom/DicomDataSet.h"

namespace lumo::app {

// The request of the worklist check: a top level and one scheduled-step
// item, built in the order a node sees on the wire. With an accession text
// (blanks only count as a text) the top level matches it and the item asks
// for the scheduled start date back; without one the item matches the
// one-day range "date-date" and asks for the accession number back. The
// modality is put into the item as typed (empty: a return key). A free
// function: the data set it returns belongs to the caller; any thread.
dicom::DicomDataSet BuildWorklistCheckIdentifier(const std::string& level,
                                                 const std::string& modality,
                                                 const std::string& accession,
                                                 const std::string& date);

}  // namespace lumo::app
