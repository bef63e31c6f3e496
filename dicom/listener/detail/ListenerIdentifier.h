#pragma once

// Private to dicom/: the identifier of a C-FIND request as the listener
// receives it. DCMTK's own receiving reads a data set as its PDVs arrive,
// keeping all of it however large, and recurses once per nesting level, so a
// hostile caller could exhaust the memory or the stack of the listener. Here
// the PDVs are put together first, counted as they come, and the bytes reach
// a reader only once their nesting is known to be bounded.

#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/ofstd/ofcond.h>

#include <cstddef>
#include <functional>
#include <string>

#include "dicom/data/DicomDataSet.h"

namespace lumo::dicom::detail {

// Where the PDVs come from: the next one (its data viewing the upper layer's
// buffer, valid until the next call), or a bad condition.
using NextPdv = std::function<OFCondition(DUL_PDV& pdv)>;
// The transfer syntax accepted for a presentation context, or a bad
// condition when none was accepted.
using SyntaxOf = std::function<OFCondition(T_ASC_PresentationContextID id, E_TransferSyntax& xfer)>;

// An identifier's bytes as they came, with the presentation context (and
// its transfer syntax) they came on.
struct GatheredIdentifier {
    std::string bytes;
    T_ASC_PresentationContextID presentationContext = 0;
    E_TransferSyntax xfer = EXS_Unknown;
};

enum class Gathering {
    Complete,  // every PDV is in
    TooLarge,  // more than the bound came: the rest is left unread
    Failed,    // the network failed or the PDVs broke the rules
};

// Puts together the PDVs of the data set that follows a command, with the
// checks DCMTK's own receiving makes (data set PDVs only, one presentation
// context, even fragments), and stops as soon as the bytes would pass
// `maxBytes`, giving back what it held. `failure` says why it Failed.
Gathering GatherIdentifier(const NextPdv& next, const SyntaxOf& syntaxOf, std::size_t maxBytes,
                           GatheredIdentifier& out, OFCondition& failure);

// The PDVs of an association, each PDU awaited up to `timeoutSeconds`, and
// the transfer syntaxes it accepted.
NextPdv PdvsOf(T_ASC_Association* association, int timeoutSeconds);
SyntaxOf SyntaxesOf(T_ASC_Association* association);

enum class IdentifierReading {
    Read,         // `out` holds it
    TooDeep,      // sequences nest deeper than the received data sets may
    Broken,       // DCMTK cannot read it, as its own receiving would fail
    Undecodable,  // read, but its text cannot be decoded
};

// Reads gathered bytes into `out`, only when their sequences nest no deeper
// than kMaxNesting. Any thread.
IdentifierReading ReadIdentifier(const GatheredIdentifier& gathered, DicomDataSet& out);

}  // namespace lumo::dicom::detail
