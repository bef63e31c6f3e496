#pragma once

// Private to dicom/: how deep the sequences of an encoded data set nest,
// found by walking its bytes without recursion, before DCMTK's reader (which
// recurses once per level and overflows the stack on a hostile data set)
// sees them.

#include <dcmtk/dcmdata/dcxfer.h>

#include <string_view>

namespace lumo::dicom::detail {

// True when no item of the data set encoded in `bytes` (transfer syntax
// `xfer`) lies more than `maxDepth` items deep. Where the walk cannot follow
// the encoding (broken or truncated bytes), every item tag left in the bytes
// counts as one level more, so a data set is let through only when it
// cannot go deeper than the bound, whatever DCMTK makes of it.
bool NestsWithin(std::string_view bytes, E_TransferSyntax xfer, int maxDepth);

}  // namespace lumo::dicom::detail
