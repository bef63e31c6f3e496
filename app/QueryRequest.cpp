#include "app/QueryRequest.h"

#include <cctype>

namespace lumo::app {

const char* RootText(QueryLevel level) {
    switch (level) {
        case QueryLevel::Worklist:
            return "WORKLIST";
        case QueryLevel::Patient:
            return "PATIENT";
        default:
            return "STUDY";
    }
}

const char* LevelText(QueryLevel level) {
    switch (level) {
        case QueryLevel::Patient:
            return "PATIENT";
        case QueryLevel::Series:
            return "SERIES";
        case QueryLevel::Image:
            return "IMAGE";
        default:
            return "STUDY";
    }
}

dicom::DicomPeer QueryNode::Peer() const {
    dicom::DicomPeer peer;
    peer.address = address;
    peer.port = port;
    peer.calledAETitle = calledAETitle;
    peer.callingAETitle = callingAETitle;
    peer.timeouts = timeouts;
    peer.maxPdu = maxPdu;
    peer.tls = tls;
    return peer;
}

dicom::DicomWebService QueryNode::WebService() const {
    dicom::DicomWebService service;
    service.baseUrl = dicom::CheckedBaseUrl(dicomWebUrl);
    service.httpUser = httpUser;
    service.timeouts = timeouts;
    service.tls = tls;
    return service;
}

const char* TransportName(QueryTransport transport) {
    return transport == QueryTransport::DicomWeb ? "DICOMweb" : "DIMSE";
}

std::optional<QueryTransport> TransportOfName(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "dimse") return QueryTransport::Dimse;
    if (lower == "dicomweb") return QueryTransport::DicomWeb;
    return std::nullopt;
}

std::optional<QueryLevel> LevelOfKind(const std::string& word) {
    const struct {
        const char* word;
        QueryLevel level;
    } kinds[] = {{"worklist", QueryLevel::Worklist},
                 {"patient", QueryLevel::Patient},
                 {"study", QueryLevel::Study},
                 {"series", QueryLevel::Series},
                 {"image", QueryLevel::Image}};
    for (const auto& kind : kinds) {
        if (word == kind.word) return kind.level;
    }
    return std::nullopt;
}

}  // namespace lumo::app
