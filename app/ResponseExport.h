#pragma once

#include <string>

#include "dicom/data/DicomDataSets.h"

namespace lumo::app {

// The responses of a query written out for a script or a spreadsheet, beside
// the listed lines of "Export Result". Each file is replaced whole (a
// temporary file, then a rename), so nothing partial is ever left under its
// name; one that cannot be written raises as SaveLinesToFile does. Free
// functions; any thread.

// The DICOM JSON model of the responses (an array, one object each), UTF-8.
void ExportResponsesJson(const std::string& fileName, const dicom::DicomDataSets& responses);

// One row per response, one column per attribute returned (a header row of
// keywords, in tag order, the union over all responses); values as their
// text, several values joined by a backslash, a sequence as its count of
// items; RFC 4180 quoting, UTF-8 with a byte-order mark for spreadsheets.
std::string ResponsesCsv(const dicom::DicomDataSets& responses);
void ExportResponsesCsv(const std::string& fileName, const dicom::DicomDataSets& responses);

// A field of a CSV row, quoted when it holds a comma, a quote or a line end.
// A field a spreadsheet would take for a formula (it starts with =, +, -, @,
// a tab or a carriage return) is quoted after an apostrophe, so that it is
// read as text; a NUL is written "<00>", as the listing shows it.
std::string CsvField(const std::string& text);

}  // namespace lumo::app
