#pragma once

#include <vector>

#include "app/ProfileSession.h"
#include "app/QueryRequest.h"
#include "dicom/web/DicomWebService.h"

namespace lumo::app {

// What a DICOMweb service offers, for its profile, checked as the console's
// DICOMweb probe checks it: the authentication it asks for, and whether each
// QIDO-RS search (studies, series, instances) answers in DICOM JSON with the
// console's credentials. What has no QIDO-RS counterpart (the patient and
// worklist levels, extended negotiation) is said not measured. Its findings
// go into the session. Returns the levels a battery can query (study,
// series, image); none when the service cannot be reached or its study
// search fails (the profile's failure then says why). On the session's
// thread.
std::vector<QueryLevel> ProfileWebServices(ProfileSession& session,
                                           const dicom::DicomWebService& service);

}  // namespace lumo::app
