#pragma once

#include <string>

#include "dicom/data/DicomDataSets.h"

namespace lumo::dicom {

// The data sets (the responses of a query) in the DICOM JSON model: an
// array holding one object per data set, in order, tags as 8 hexadecimal
// digits with "vr" and "Value", person names as {"Alphabetic": ...},
// sequences nested, binary values inline in base64. UTF-8 text, written by
// DCMTK's JSON writer. Raises EDicomError when a data set cannot be written.
// Any thread, one collection per thread.
std::string DataSetsJson(const DicomDataSets& dataSets);

// One object of that array: the data set numbered `number` (from 1, for the
// message when it cannot be written), for a writer that writes the array as
// its data sets arrive.
std::string DataSetJson(const DicomDataSet& dataSet, int number);

}  // namespace lumo::dicom
