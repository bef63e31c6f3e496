#pragma once

#include "dicom/DicomConnection.h"
#include "dicom/DicomDataSets.h"

namespace lumo::app {

// The last step of a relayed request in listen mode: the worklist answers of
// the node go back to the caller. Free functions; the form's thread.

// The responses as they may be passed on: a response holding the Issuer of
// Accession Number Sequence (0008,0051) goes as a copy without it, since some
// modalities refuse a worklist entry that carries it. The responses given
// are not changed.
dicom::DicomDataSets ResponsesToForward(const dicom::DicomDataSets& responses);

// Sends the responses to a caller still waiting, each at status Pending,
// then the final status Success; a caller whose request has ended gets
// nothing.
void ForwardResponses(dicom::DicomConnection& connection, const dicom::DicomDataSets& responses);

}  // namespace lumo::app
