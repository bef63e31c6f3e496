#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dicom/net/AssociationReport.h"
#include "dicom/web/DicomWebService.h"
#include "support/Exception.h"

namespace lumo::dicom {

// Checks of a DICOMweb service that query nothing of use: an echo, and a
// probe of its searches and of the authentication it asks for. Free
// functions and plain values; on the calling thread.

// GET {base}/studies?limit=1 with the service's credentials: whether the
// service is there and answers a search in DICOM JSON. Raises as QidoFind
// does (no connection, a status other than a success, a body that is not
// DICOM JSON); `report` holds the request as far as it went, also then.
void DicomWebEcho(const DicomWebService& service, AssociationReport& report);

// What a probe of a DICOMweb service learnt.
struct DicomWebProbeResult {
    // The studies asked for without credentials: what the service answered
    // (its status, and the authentication its WWW-Authenticate asks for).
    std::optional<HttpExchange> anonymous;
    // Each search ("studies", "series", "instances", limit=1) asked with the
    // console's credentials: its request, and why it failed, when it did
    // ("EClass: message").
    struct Search {
        std::string resource;
        std::optional<HttpExchange> exchange;
        std::string failure;
    };
    std::vector<Search> searches;
    AssociationReport report;  // every request, in order
    // Set when the service could not be reached at all.
    std::optional<ErrorClass> failureClass;
    std::string failure;

    bool Reached() const { return !failureClass.has_value(); }
    bool AnySearchAnswered() const;
};

// Asks without credentials, then each search with them. Raises nothing: what
// failed is in the result.
DicomWebProbeResult DicomWebProbe(const DicomWebService& service);

}  // namespace lumo::dicom
