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
#include <string>
#include <string_view>
#include <vector>

namespace lumo::dicom::detail {

// What the command of a response says, as far as a C-FIND or a C-ECHO
// needs it. Only the command field is read when it is neither a C-FIND-RSP
// nor a C-ECHO-RSP.
struct ResponseCommand {
    std::uint16_t commandField = 0;
    std::uint16_t messageIDBeingRespondedTo = 0;
    bool announcesDataSet = false;
    std::uint16_t status = 0;
    std::string errorComment;                      // (0000,0902), when the node gave one
    std::vector<std::uint32_t> offendingElements;  // (0000,0901), group << 16 | element
};

// The next command on the association, its bytes gathered in `buffer`. A
// bad condition when it is larger than `maxBytes`, nested too deeply
// (NestedTooDeep), unreadable or incomplete, or when the association ends.
OFCondition ReceiveCommand(T_ASC_Association* assoc, std::size_t maxBytes, std::string& buffer,
                           ResponseCommand& command);

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
