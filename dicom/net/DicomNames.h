#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "dicom/net/AssociationReport.h"

// The standard's names for what an association report holds: services,
// transfer syntaxes, DIMSE statuses, and the values of the upper layer's
// rejections, aborts and presentation context results. Tables of constants;
// any thread. A value the table does not hold has an empty name: the caller
// shows the value itself.
namespace lumo::dicom {

// "Study Root Query/Retrieve Information Model – FIND", "Verification", ...;
// a storage SOP class by DCMTK's name of it ("CTImageStorage").
std::string_view ServiceName(std::string_view sopClassUID);
// "Explicit VR Little Endian", ...
std::string_view TransferSyntaxName(std::string_view transferSyntaxUID);

enum class StatusKind { Success, Pending, Cancel, Warning, Failure };

// What a DIMSE status means: a status or a range of them, of one kind.
struct StatusMeaning {
    std::uint16_t first;
    std::uint16_t last;
    StatusKind kind;
    const char* name;  // "Out of resources"
};

// Every status of C-FIND and C-ECHO the standard defines, and the general
// statuses a node may answer any request with.
std::span<const StatusMeaning> DimseStatusTable();
// The meaning of `status`: its table entry, or, for a status the standard
// does not define, its kind as the status's value tells it and no name.
StatusMeaning DimseStatusMeaning(std::uint16_t status);

// The statuses of C-MOVE and C-GET, which name some codes otherwise
// (A701, A702, A801, AA00, B000); the general ones as DimseStatusMeaning.
std::span<const StatusMeaning> RetrieveStatusTable();
StatusMeaning RetrieveStatusMeaning(std::uint16_t status);

// A-ASSOCIATE-RJ: "permanent" or "transient"; "service user", "ACSE
// provider" or "presentation provider"; the reason for that source ("no
// reason given", "called AE title not recognized", ...).
std::string_view RejectResultName(std::uint8_t result);
std::string_view RejectSourceName(std::uint8_t source);
std::string_view RejectReasonName(std::uint8_t source, std::uint8_t reason);

// A-ABORT: "service user" or "service provider"; a provider's reason
// ("unexpected PDU", ...).
std::string_view AbortSourceName(std::uint8_t source);
std::string_view AbortReasonName(std::uint8_t reason);

// A presentation context's result: "acceptance", "user rejection", "no
// reason", "abstract syntax not supported", "transfer syntaxes not supported".
std::string_view ContextResultName(ContextResult result);

}  // namespace lumo::dicom
