#pragma once

// Private to dicom/: conversion between the toolkit's data sets and DCMTK's.

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <memory>

#include "dicom/data/DicomDataSet.h"

namespace lumo::dicom::detail {

// A deep copy for the wire or a file: sequences from their collections,
// command-group elements (0000,xxxx) left out, text encoded as the data set's
// Specific Character Set declares (none or ISO_IR 100: Latin-1; ISO_IR 192:
// UTF-8; anything else: rewritten as ISO_IR 192 and sent as UTF-8).
std::unique_ptr<DcmDataset> ToDcmDataset(const DicomDataSet& dataSet);

// The same with all text in UTF-8, each (0008,0005) saying "ISO_IR 192": for
// writers whose output is UTF-8 whatever the data set declares (JSON). A NUL
// in a value, where such a writer would end the value, is written "<00>",
// as the listing and the CSV export show it.
std::unique_ptr<DcmDataset> ToDcmDatasetInUtf8(const DicomDataSet& dataSet);

// A deep copy of a received data set, text decoded to UTF-8 from its
// Specific Character Set (undeclared non-ASCII read as UTF-8 when it is
// valid UTF-8, else as Windows-1252: IncomingText).
DicomDataSet FromDcmItem(DcmItem& item);

}  // namespace lumo::dicom::detail
