#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/net/DicomQuery.h"
#include "dicom/web/DicomWebService.h"

namespace lumo::app {

// The five kinds of query the console sends.
enum class QueryLevel { Worklist, Patient, Study, Series, Image };

// The query root of a kind: "WORKLIST", "PATIENT", or "STUDY" for the study,
// series and image levels (Study Root).
const char* RootText(QueryLevel level);
// The level a C-FIND names in (0008,0052): "PATIENT", "STUDY", "SERIES" or
// "IMAGE"; the worklist's query object is at level "STUDY".
const char* LevelText(QueryLevel level);
// The kind a word names: "worklist", "patient", "study", "series", "image".
std::optional<QueryLevel> LevelOfKind(const std::string& word);

// What a request asks of its node, and how it travels. The run dispatches
// on both (QueryRun.h), so that a service or a transport added beside these
// takes the same request, outcome, listing, export, comparison and report,
// and the form does not branch on them.
enum class QueryService {
    Find,  // C-FIND: matching entries, each listed as a block
    Move,  // C-MOVE: the matches sent to a move destination, the console's receiver
    Get,   // C-GET: the matches sent back on the same association
};
enum class QueryTransport {
    Dimse,     // DICOM upper layer, over TCP or TLS
    DicomWeb,  // DICOMweb over HTTP or HTTPS: QIDO-RS for C-FIND
};
// "DIMSE", "DICOMweb", as the settings and the window name them; and back
// (any case).
const char* TransportName(QueryTransport transport);
std::optional<QueryTransport> TransportOfName(std::string_view name);

// Where a query goes and how long it may wait at each stage.
struct QueryNode {
    std::string address;
    std::int32_t port = 0;
    std::string calledAETitle;
    std::string callingAETitle;
    dicom::DicomTimeouts timeouts;
    dicom::DicomLimits limits;
    std::uint32_t maxPdu = dicom::kDefaultMaxPdu;
    dicom::DicomTls tls;  // DICOM over TLS, when enabled; HTTPS's trust settings
    // The node's DICOMweb service, for the DICOMweb transport: its base URL
    // and the user of HTTP Basic (the secrets come from the environment).
    std::string dicomWebUrl;
    std::string httpUser;

    // The node as the toolkit's exchanges take it.
    dicom::DicomPeer Peer() const;
    // Its DICOMweb service; a URL that is not one raises EConvertError.
    dicom::DicomWebService WebService() const;
};

// The matching keys, each exactly as typed: no trimming, no change of case,
// no wildcard added. An empty key goes out with zero length (it matches
// everything) rather than being left out.
struct QueryKeys {
    std::string accession;       // EditAccession
    std::string patientId;       // EditDossier
    std::string patientName;     // EditNomPatient
    std::string referring;       // EditNomMedRef
    std::string date;            // EditDate: a date, a range "d1-d2", or nothing
    std::string birthDate;       // EditNaissance
    std::string studyUid;        // EditStudyUID
    std::string seriesUid;       // EditSeriesUID
    std::string modality;        // cboModalite
    std::string sopInstanceUid;  // EditSOPInstanceUID (retrieval at image level)
};

// How a retrieval (C-MOVE, C-GET) receives what it asks for. The keys are
// the request's, a UID list where several UIDs are separated by "\".
struct RetrievalOptions {
    std::string moveDestination;     // the move destination's AE title (C-MOVE)
    std::int32_t storePort = 11113;  // where the console's receiver listens (C-MOVE)
    std::string storeFolder;         // where to keep the instances; empty: checked, not kept
    bool verify = false;             // a C-FIND count first, compared with what arrived
    dicom::DicomTls storeTls;        // the receiver's TLS, listen mode's options
    std::size_t maxInstanceBytes = std::size_t{256} << 20;  // one instance, in bytes
};

// One query of the console: its kind, the node and the keys. The form fills
// it from its fields; the relay from the fields an incoming request set. A
// plain value; any thread.
struct QueryRequest {
    QueryLevel level = QueryLevel::Study;
    QueryService service = QueryService::Find;
    QueryTransport transport = QueryTransport::Dimse;
    QueryNode node;
    QueryKeys keys;
    RetrievalOptions retrieval;  // Move and Get only
    // Whether the outcome holds the responses once each has been handed to
    // the response handler (the export, the save files and the worklist
    // check read them again).
    bool keepResponses = true;

    std::string Root() const { return RootText(level); }
};

}  // namespace lumo::app
