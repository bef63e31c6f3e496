#pragma once

// Private to dicom/: what an HTTP answer other than the one asked for means
// to the operator, and the body of the one asked for read as DICOM JSON.

#include <string>
#include <vector>

#include "dicom/data/DicomDataSets.h"
#include "dicom/web/DicomWebService.h"
#include "dicom/web/detail/HttpClient.h"

namespace lumo::dicom::detail {

// The start of a body on one line, as the service put it: an HTML page's
// title, a JSON error's message, or the first line of text, at most 200
// characters, control characters blanked. Empty for an empty body.
std::string BodySummary(const HttpAnswer& answer);

// Raises lumo::Exception(EDicomStatusError) for an answer that is no
// success: "<what>: HTTP 401 Unauthorized", what to do about it (the
// authentication the service asks for and the one shown; the DICOMweb root
// a 404 points to; the parameter a 400 names, among `parameters`; where a
// redirect sends), and what the service said. Never a secret: a credential
// is named by its user or by the variable that holds it.
[[noreturn]] void FailOnStatus(const HttpAnswer& answer, const std::string& what,
                               const DicomWebService& service, const std::string& credentials,
                               const std::vector<std::string>& parameters);

// The data sets of a successful answer: none for 204 or an empty body. A
// body of another content type (an HTML login page), or not in the DICOM
// JSON model, raises lumo::Exception(EDicomError, "<what>: the answer is
// not DICOM JSON but text/html (<its summary>)").
DicomDataSets DicomJsonOf(const HttpAnswer& answer, const std::string& what);

}  // namespace lumo::dicom::detail
