#include "dicom/net/detail/PlainCommand.h"

#include <dcmtk/dcmnet/dimse.h>

#include <cstdint>

namespace lumo::dicom::detail {

namespace {

constexpr std::uint16_t kCommandField = 0x0100;
constexpr std::uint16_t kMessageIDBeingRespondedTo = 0x0120;
constexpr std::uint16_t kCommandDataSetType = 0x0800;
constexpr std::uint16_t kStatus = 0x0900;
constexpr std::uint16_t kOffendingElement = 0x0901;
constexpr std::uint16_t kErrorComment = 0x0902;

std::uint16_t U16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

std::uint32_t U32(std::string_view bytes, std::size_t at) {
    return U16(bytes, at) | (static_cast<std::uint32_t>(U16(bytes, at + 2)) << 16);
}

// The two-byte numbers of a command, as far as they were found.
struct Numbers {
    std::optional<std::uint16_t> field, messageID, dataSetType, status;

    std::optional<std::uint16_t>* Slot(std::uint16_t element) {
        switch (element) {
            case kCommandField:
                return &field;
            case kMessageIDBeingRespondedTo:
                return &messageID;
            case kCommandDataSetType:
                return &dataSetType;
            case kStatus:
                return &status;
            default:
                return nullptr;
        }
    }
};

}  // namespace

std::optional<ResponseCommand> ReadPlainCommand(std::string_view bytes) {
    Numbers numbers;
    std::optional<std::uint16_t> last;
    for (std::size_t at = 0; at != bytes.size();) {
        if (bytes.size() - at < 8) return std::nullopt;
        const std::uint16_t group = U16(bytes, at);
        const std::uint16_t element = U16(bytes, at + 2);
        const std::uint32_t length = U32(bytes, at + 4);
        if (group != 0x0000 || (last && element <= *last)) return std::nullopt;
        if (length % 2 != 0 || length > bytes.size() - at - 8) return std::nullopt;
        if (element == kOffendingElement || element == kErrorComment) return std::nullopt;
        if (std::optional<std::uint16_t>* slot = numbers.Slot(element)) {
            if (length != 2) return std::nullopt;
            *slot = U16(bytes, at + 8);
        }
        last = element;
        at += 8 + length;
    }
    if (!numbers.field) return std::nullopt;
    ResponseCommand command;
    command.commandField = *numbers.field;
    if (command.commandField != DIMSE_C_FIND_RSP && command.commandField != DIMSE_C_ECHO_RSP)
        return command;
    if (!numbers.messageID || !numbers.dataSetType || !numbers.status) return std::nullopt;
    command.messageIDBeingRespondedTo = *numbers.messageID;
    command.announcesDataSet = *numbers.dataSetType != DIMSE_DATASET_NULL;
    command.status = *numbers.status;
    return command;
}

}  // namespace lumo::dicom::detail
