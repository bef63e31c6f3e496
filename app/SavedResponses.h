#pragma once

#include <string>

#include "app/QueryRequest.h"
#include "app/TStrings.h"
#include "dicom/data/DicomDataSets.h"

namespace lumo::app {

// "Save Results": each response of a query written to
// "Logs/Lumo4410_<number>.dcm" under `folder` (with its trailing slash;
// empty: the current folder), the Logs folder made when missing, in the bytes it came in, then
// listed. A response that cannot be saved is said so in the list, and the listing goes on; one that
// cannot be listed raises, as ListResponse does. On the form's thread.
void SaveAndListResponses(TStrings& lines, const dicom::DicomDataSets& responses, QueryLevel level,
                          const std::string& folder = {});

}  // namespace lumo::app
