#pragma once

#include <cstdint>

// The DIMSE statuses the console sends and reads, named as DCMTK names them
// (STATUS_Success, STATUS_Pending, ...). A status is data: a query that ends
// with a failure status has still run. Constants; any thread.
namespace lumo::dicom::DimseStatus {

inline constexpr std::uint16_t Success = 0x0000;         // STATUS_Success
inline constexpr std::uint16_t Pending = 0xFF00;         // STATUS_Pending
inline constexpr std::uint16_t PendingWarning = 0xFF01;  // optional keys not supported
inline constexpr std::uint16_t Cancel =
    0xFE00;  // STATUS_FIND_Cancel_MatchingTerminatedDueToCancelRequest
inline constexpr std::uint16_t UnableToProcess = 0xC000;  // STATUS_FIND_Failed_UnableToProcess

// As DCMTK's DICOM_PENDING_STATUS and DICOM_WARNING_STATUS.
constexpr bool IsPending(std::uint16_t status) {
    return status == Pending || status == PendingWarning;
}
constexpr bool IsWarning(std::uint16_t status) {
    return (status & 0xF000) == 0xB000 || status == 0x0001 || status == 0x0107 || status == 0x0116;
}
// The statuses that end a C-FIND with every match in: success, a warning,
// or the end of a cancel.
constexpr bool IsCompleted(std::uint16_t status) {
    return status == Success || IsWarning(status) || status == Cancel;
}

}  // namespace lumo::dicom::DimseStatus
