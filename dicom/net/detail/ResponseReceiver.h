#pragma once

// Private to dicom/: a C-FIND or C-ECHO response read off the association PDV by PDV
// by this layer, rather than by DIMSE_receiveCommand and its kin, so that
// what a node sends is bounded in size while it arrives and checked for
// nesting before DCMTK's reader sees any of it. The reads block: the
// association's connection (ReadDeadline) bounds every wait.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::dicom::detail {

// What the command of a message says, as far as the console's exchanges
// need it: a C-FIND, C-ECHO, C-MOVE or C-GET response, or the C-STORE
// request of a retrieval's sub-operation. Only the command field is read
// of any other.
struct ResponseCommand {
    std::uint16_t commandField = 0;
    std::uint16_t messageIDBeingRespondedTo = 0;
    bool announcesDataSet = false;
    std::uint16_t status = 0;
    std::string errorComment;                      // (0000,0902), when the node gave one
    std::vector<std::uint32_t> offendingElements;  // (0000,0901), group << 16 | element
    // A C-MOVE-RSP or C-GET-RSP: the sub-operation counts the node sent.
    std::optional<std::uint16_t> remaining, completed, failed, warning;
    // A C-STORE-RQ (or C-ECHO-RQ): its message ID, what it stores, and the
    // C-MOVE it serves.
    std::uint16_t messageID = 0;
    std::string affectedSopClassUID;
    std::string affectedSopInstanceUID;
    std::string moveOriginatorAETitle;  // (0000,1030), when the node gave one
    // Whether a retrieval's response or a C-STORE-RQ held every field its
    // kind must have (a C-FIND or C-ECHO response without them fails to parse).
    bool complete = false;
};

// The next command on the association, its bytes gathered in `buffer`. A
// bad condition when it is larger than `maxBytes`, nested too deeply
// (NestedTooDeep), unreadable or incomplete, or when the association ends.
// `presID`, when given, receives the presentation context it came on.
OFCondition ReceiveCommand(T_ASC_Association* assoc, std::size_t maxBytes, std::string& buffer,
                           ResponseCommand& command, T_ASC_PresentationContextID* presID = nullptr);

// The bytes of the data set that follows a command, with the checks DCMTK's
// own receiving makes, and the transfer syntax of its presentation context.
// A data set in one PDV is not copied: `bytes` views the upper layer's
// buffer, valid until the next read. One larger than `maxBytes` fails as soon
// as the count passes it, with nothing more read. Reading the bytes here,
// rather than through DIMSE_receiveDataSetInMemory, lets a plain response go
// straight into the toolkit's data set.
OFCondition ReceiveDataSetBytes(T_ASC_Association* assoc, std::size_t maxBytes, std::string& buffer,
                                std::string_view& bytes, E_TransferSyntax& xfer);

}  // namespace lumo::dicom::detail
