#pragma once

#include <string_view>

#include "dicom/data/DicomDataSets.h"

namespace lumo::dicom {

// The data sets of a text in the DICOM JSON model (an array of objects, one
// per data set, as a DICOMweb service answers a search), each held as the
// toolkit holds a received data set: text in UTF-8, declared "ISO_IR 192" in
// (0008,0005) whatever the object declared (JSON text is UTF-8 whatever a
// data set says). The one place where the model becomes data sets:
//  - a person name's groups "Alphabetic", "Ideographic" and "Phonetic" are
//    joined by "=" as on the wire, empty groups at the end left out;
//  - numbers (IS, DS, US, FL, ...) become their text, as short as reads back;
//  - "InlineBinary" is decoded from base64 into the binary value;
//  - "BulkDataURI" leaves the attribute present with no value: its value
//    lies with the service, and is not fetched;
//  - an attribute without "Value", or with an empty one, has zero length;
//    a null among values is an empty value, a null item an empty item.
// A text that is not JSON, or not the model (a tag that is not 8 hexadecimal
// digits, a value of the wrong kind, sequences nested too deeply) raises
// lumo::Exception(EDicomError, <what and where>). Any thread.
DicomDataSets DataSetsOfJson(std::string_view json);

}  // namespace lumo::dicom
