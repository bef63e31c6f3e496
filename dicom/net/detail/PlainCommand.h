#pragma once

// Private to dicom/: the command of a response read straight from its bytes.

#include <optional>
#include <string_view>

#include "dicom/net/detail/ResponseReceiver.h"

namespace lumo::dicom::detail {

// The command encoded in `bytes` (implicit VR little endian), read without
// building DCMTK's data set: a listing reads one command per response, and
// DCMTK's reading of it costs more than the reading of the response itself.
// Reads only what is laid out plainly: elements of group 0000 in ascending
// order, each of an even, defined length within the bytes, the command
// field, and for a C-FIND-RSP or a C-ECHO-RSP the message ID responded to,
// the data set type and the status, each of two bytes, with no error comment
// nor offending element. Anything else gives nullopt, and the caller reads
// the bytes with DCMTK, which knows every case. What it reads is what DCMTK's
// reading of the same bytes gives.
std::optional<ResponseCommand> ReadPlainCommand(std::string_view bytes);

}  // namespace lumo::dicom::detail
