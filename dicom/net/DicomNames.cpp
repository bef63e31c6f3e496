#include "dicom/net/DicomNames.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "dicom/net/DimseStatus.h"

namespace lumo::dicom {

namespace {

struct UidName {
    std::string_view uid;
    std::string_view name;
};

// The services the console proposes, and those a node may name back.
constexpr UidName kServices[] = {
    {"1.2.840.10008.1.1", "Verification"},
    {"1.2.840.10008.5.1.4.31", "Modality Worklist Information Model – FIND"},
    {"1.2.840.10008.5.1.4.1.2.1.1", "Patient Root Query/Retrieve Information Model – FIND"},
    {"1.2.840.10008.5.1.4.1.2.2.1", "Study Root Query/Retrieve Information Model – FIND"},
    {"1.2.840.10008.5.1.4.1.2.3.1", "Patient/Study Only Query/Retrieve Information Model – FIND"},
    {"1.2.840.10008.5.1.4.1.2.1.2", "Patient Root Query/Retrieve Information Model – MOVE"},
    {"1.2.840.10008.5.1.4.1.2.2.2", "Study Root Query/Retrieve Information Model – MOVE"},
    {"1.2.840.10008.5.1.4.1.2.1.3", "Patient Root Query/Retrieve Information Model – GET"},
    {"1.2.840.10008.5.1.4.1.2.2.3", "Study Root Query/Retrieve Information Model – GET"},
};

// Those the console proposes, and those a node that chooses one of its own
// is likely to name.
constexpr UidName kTransferSyntaxes[] = {
    {"1.2.840.10008.1.2", "Implicit VR Little Endian"},
    {"1.2.840.10008.1.2.1", "Explicit VR Little Endian"},
    {"1.2.840.10008.1.2.2", "Explicit VR Big Endian"},
    {"1.2.840.10008.1.2.1.99", "Deflated Explicit VR Little Endian"},
    {"1.2.840.10008.1.2.4.50", "JPEG Baseline (Process 1)"},
    {"1.2.840.10008.1.2.4.70", "JPEG Lossless, Non-Hierarchical, First-Order Prediction"},
    {"1.2.840.10008.1.2.4.80", "JPEG-LS Lossless Image Compression"},
    {"1.2.840.10008.1.2.4.90", "JPEG 2000 Image Compression (Lossless Only)"},
    {"1.2.840.10008.1.2.4.91", "JPEG 2000 Image Compression"},
    {"1.2.840.10008.1.2.5", "RLE Lossless"},
};

// C-FIND's statuses, C-ECHO's (success, or the general ones) and the general
// statuses of any DIMSE service. The exact codes come before the ranges
// that hold them.
constexpr StatusMeaning kStatuses[] = {
    {0x0000, 0x0000, StatusKind::Success, "Success"},
    {0xFF00, 0xFF00, StatusKind::Pending, "Pending"},
    {0xFF01, 0xFF01, StatusKind::Pending, "Pending, optional keys not supported"},
    {0xFE00, 0xFE00, StatusKind::Cancel, "Cancel"},
    {0xA700, 0xA7FF, StatusKind::Failure, "Out of resources"},
    {0xA900, 0xA9FF, StatusKind::Failure, "Identifier does not match SOP Class"},
    {0xC000, 0xCFFF, StatusKind::Failure, "Unable to process"},
    {0x0001, 0x0001, StatusKind::Warning, "Requested optional attributes are not supported"},
    {0x0107, 0x0107, StatusKind::Warning, "Attribute list error"},
    {0x0116, 0x0116, StatusKind::Warning, "Attribute value out of range"},
    {0xB000, 0xBFFF, StatusKind::Warning, "Warning"},
    {0x0105, 0x0105, StatusKind::Failure, "No such attribute"},
    {0x0106, 0x0106, StatusKind::Failure, "Invalid attribute value"},
    {0x0110, 0x0110, StatusKind::Failure, "Processing failure"},
    {0x0112, 0x0112, StatusKind::Failure, "No such SOP Instance"},
    {0x0117, 0x0117, StatusKind::Failure, "Invalid object instance"},
    {0x0118, 0x0118, StatusKind::Failure, "No such SOP Class"},
    {0x0119, 0x0119, StatusKind::Failure, "Class-instance conflict"},
    {0x0120, 0x0120, StatusKind::Failure, "Missing attribute"},
    {0x0121, 0x0121, StatusKind::Failure, "Missing attribute value"},
    {0x0122, 0x0122, StatusKind::Failure, "SOP Class not supported"},
    {0x0124, 0x0124, StatusKind::Failure, "Not authorized"},
    {0x0210, 0x0210, StatusKind::Failure, "Duplicate invocation"},
    {0x0211, 0x0211, StatusKind::Failure, "Unrecognized operation"},
    {0x0212, 0x0212, StatusKind::Failure, "Mistyped argument"},
    {0x0213, 0x0213, StatusKind::Failure, "Resource limitation"},
};

// C-MOVE's and C-GET's own, before the general table.
constexpr StatusMeaning kRetrieveStatuses[] = {
    {0x0000, 0x0000, StatusKind::Success, "Sub-operations Complete – No Failures"},
    {0xFF00, 0xFF00, StatusKind::Pending, "Sub-operations are continuing"},
    {0xFE00, 0xFE00, StatusKind::Cancel, "Sub-operations terminated due to Cancel Indication"},
    {0xA701, 0xA701, StatusKind::Failure,
     "Out of Resources – Unable to calculate number of matches"},
    {0xA702, 0xA702, StatusKind::Failure, "Out of Resources – Unable to perform sub-operations"},
    {0xA801, 0xA801, StatusKind::Failure, "Move Destination unknown"},
    {0xA900, 0xA9FF, StatusKind::Failure, "Identifier does not match SOP Class"},
    {0xAA00, 0xAA00, StatusKind::Failure,
     "None of the frames requested were found in the SOP Instance"},
    {0xB000, 0xB000, StatusKind::Warning,
     "Sub-operations Complete – One or more Failures or Warnings"},
    {0xC000, 0xCFFF, StatusKind::Failure, "Unable to process"},
};

std::string_view Lookup(std::span<const UidName> table, std::string_view uid) {
    const auto found = std::find_if(table.begin(), table.end(),
                                    [&](const UidName& entry) { return entry.uid == uid; });
    return found == table.end() ? std::string_view() : found->name;
}

// A name by its number, empty past the end or where the standard reserves it.
std::string_view Indexed(std::span<const std::string_view> names, unsigned index) {
    return index < names.size() ? names[index] : std::string_view();
}

}  // namespace

std::string_view ServiceName(std::string_view sopClassUID) {
    const std::string_view name = Lookup(kServices, sopClassUID);
    if (!name.empty() || !dcmIsaStorageSOPClassUID(std::string(sopClassUID).c_str(), ESSC_All))
        return name;
    const char* known = dcmFindNameOfUID(std::string(sopClassUID).c_str(), nullptr);
    return known != nullptr ? std::string_view(known) : std::string_view();
}

std::string_view TransferSyntaxName(std::string_view transferSyntaxUID) {
    return Lookup(kTransferSyntaxes, transferSyntaxUID);
}

std::span<const StatusMeaning> DimseStatusTable() { return kStatuses; }

StatusMeaning DimseStatusMeaning(std::uint16_t status) {
    for (const StatusMeaning& meaning : kStatuses) {
        if (status >= meaning.first && status <= meaning.last) return meaning;
    }
    StatusKind kind = StatusKind::Failure;
    if (DimseStatus::IsPending(status)) kind = StatusKind::Pending;
    if (DimseStatus::IsWarning(status)) kind = StatusKind::Warning;
    return {status, status, kind, ""};
}

std::span<const StatusMeaning> RetrieveStatusTable() { return kRetrieveStatuses; }

StatusMeaning RetrieveStatusMeaning(std::uint16_t status) {
    for (const StatusMeaning& meaning : kRetrieveStatuses) {
        if (status >= meaning.first && status <= meaning.last) return meaning;
    }
    return DimseStatusMeaning(status);
}

std::string_view RejectResultName(std::uint8_t result) {
    static constexpr std::string_view kNames[] = {"", "permanent", "transient"};
    return Indexed(kNames, result);
}

std::string_view RejectSourceName(std::uint8_t source) {
    static constexpr std::string_view kNames[] = {"", "service user", "ACSE provider",
                                                  "presentation provider"};
    return Indexed(kNames, source);
}

std::string_view RejectReasonName(std::uint8_t source, std::uint8_t reason) {
    static constexpr std::string_view kUser[] = {"",
                                                 "no reason given",
                                                 "application context name not supported",
                                                 "calling AE title not recognized",
                                                 "",
                                                 "",
                                                 "",
                                                 "called AE title not recognized"};
    static constexpr std::string_view kAcse[] = {"", "no reason given",
                                                 "protocol version not supported"};
    static constexpr std::string_view kPresentation[] = {"", "temporary congestion",
                                                         "local limit exceeded"};
    switch (source) {
        case 1:
            return Indexed(kUser, reason);
        case 2:
            return Indexed(kAcse, reason);
        case 3:
            return Indexed(kPresentation, reason);
        default:
            return {};
    }
}

std::string_view AbortSourceName(std::uint8_t source) {
    static constexpr std::string_view kNames[] = {"service user", "", "service provider"};
    return Indexed(kNames, source);
}

std::string_view AbortReasonName(std::uint8_t reason) {
    static constexpr std::string_view kNames[] = {"reason not specified",
                                                  "unrecognized PDU",
                                                  "unexpected PDU",
                                                  "",
                                                  "unrecognized PDU parameter",
                                                  "unexpected PDU parameter",
                                                  "invalid PDU parameter value"};
    return Indexed(kNames, reason);
}

std::string_view ContextResultName(ContextResult result) {
    static constexpr std::string_view kNames[] = {"acceptance", "user rejection", "no reason",
                                                  "abstract syntax not supported",
                                                  "transfer syntaxes not supported"};
    return Indexed(kNames, static_cast<unsigned>(result));
}

}  // namespace lumo::dicom
