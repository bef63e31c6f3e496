#pragma once

// Private to dicom/: a received data set read from its encoded bytes.

#include <dcmtk/dcmdata/dctypes.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/ofstd/ofcond.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/data/DicomDataSet.h"
#include "dicom/data/detail/DataSetStore.h"

class DcmDataset;

namespace lumo::dicom::detail {

// The data set encoded in `bytes` (explicit VR little endian), read into the
// toolkit's own form without building DCMTK's first: a long listing spends
// most of its time reading responses. Reads only what is laid out plainly:
// text values, whole numbers (US, SS, UL, SL) and sequences of them, in tag
// order, with even lengths and nothing to trim but trailing padding. Anything
// else gives nullopt, and the caller reads the bytes with DCMTK, which knows
// every case. What it reads is what FromDcmItem gives for DCMTK's reading of
// the same bytes.
std::optional<DicomDataSet> ReadPlainDataSet(std::string_view bytes);

// The same reading, keeping the bytes rather than building the elements
// (ElementList): they are read from the bytes when first asked for. What is
// checked, and the undecodable set noted, is the same.
std::optional<DicomDataSet> KeepPlainDataSet(std::string_view bytes);

// What kept bytes say of the element `tag` of their top level, read as the
// plain reading reads it: absent; a character string (other than (0008,0005))
// and its text, a view of the bytes or of `scratch`; or a case only the
// elements answer (a number, a sequence, a character set with a decoder of
// its own, or a sequence on the way whose end only its items tell).
struct EncodedText {
    enum class Kind { Absent, Text, NeedsElements } kind = Kind::Absent;
    VrCode vr = 0;
    std::string_view text;
};
EncodedText FindEncodedText(std::string_view bytes, std::uint32_t tag, std::string& scratch);

// DCMTK's reading of the bytes of a received data set (or command) in
// `xfer`, once a walk over them has found no sequence nested deeper than
// kMaxNesting: DCMTK's reader recurses once per level, and a node's hostile
// nesting would overflow the stack. NestedTooDeep() for a deeper one;
// DCMTK's condition when it cannot read the bytes.
OFCondition ReadIntoDcmtk(std::string_view bytes, E_TransferSyntax xfer, DcmDataset& out,
                          E_GrpLenEncoding groupLength = EGL_noChange);

// The failure of a response nested deeper than kMaxNesting, in words.
OFCondition NestedTooDeep();

// DCMTK's reading of the bytes of a data set in `xfer` (ReadIntoDcmtk),
// converted. A reading that fails gives a bad condition.
OFCondition ReadWithDcmtk(std::string_view bytes, E_TransferSyntax xfer, DicomDataSet& out);

// A received data set: read plainly when it can be, through DCMTK otherwise.
// With LUMO4410_DCMTK_READER=1 in the environment (read once, the first time
// it is needed), every response goes through DCMTK: the two readings can be
// compared on a real node's responses, and the plain one's gain measured.
OFCondition ReadReceivedDataSet(std::string_view bytes, E_TransferSyntax xfer, DicomDataSet& out);

// Sets that switch from within the process and gives its previous value,
// for tests and benchmarks that read the same responses both ways; its first
// value comes from the environment. Any thread; applies from the next
// response on.
bool SetDcmtkReaderOnly(bool only);

}  // namespace lumo::dicom::detail
