// Feeds arbitrary bytes to the listener as the PDVs of a request's
// identifier: putting them together, bounding their nesting and reading them
// never crashes, never overflows the stack and never holds more than the
// bound, whatever a caller sends.
#include <dcmtk/dcmnet/cond.h>
#include <dcmtk/oflog/oflog.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dicom/listener/detail/ListenerIdentifier.h"

using namespace lumo::dicom::detail;

// DCMTK reserves a value of the length an element declares before it finds
// the bytes missing: up to 4 GiB of address space that it never fills (only
// the sanitizer's shadow of it is touched). What the listener holds is
// checked below; libFuzzer's own bound on one allocation would stop at that
// reservation instead.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> arguments(*argv, *argv + *argc);
    static char allocationBound[] = "-malloc_limit_mb=5120";
    arguments.insert(arguments.begin() + 1, allocationBound);
    arguments.push_back(nullptr);
    *argc = static_cast<int>(arguments.size() - 1);
    *argv = arguments.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        return true;
    }();
    (void)quiet;
    constexpr std::size_t kBound = 1 << 16;
    if (size < 1) return 0;
    // Byte 0 picks a transfer syntax the listener accepts (on context 1).
    // Then each PDV: a control byte (bit 0 command, bit 1 last, bit 2 on
    // context 3), a 16-bit length and its bytes.
    const E_TransferSyntax kSyntaxes[] = {EXS_LittleEndianExplicit, EXS_BigEndianExplicit,
                                          EXS_LittleEndianImplicit};
    const E_TransferSyntax xfer = kSyntaxes[data[0] % 3];
    std::size_t at = 1;
    const auto next = [&](DUL_PDV& pdv) -> OFCondition {
        if (at + 3 > size) return DIMSE_NODATAAVAILABLE;
        const std::uint8_t control = data[at];
        const std::size_t length =
            std::min<std::size_t>(data[at + 1] << 8 | data[at + 2], size - at - 3);
        pdv.pdvType = (control & 1) != 0 ? DUL_COMMANDPDV : DUL_DATASETPDV;
        pdv.lastPDV = (control & 2) != 0 ? OFTrue : OFFalse;
        pdv.presentationContextID = (control & 4) != 0 ? 3 : 1;
        pdv.fragmentLength = length;
        pdv.data = const_cast<std::uint8_t*>(data + at + 3);
        at += 3 + length;
        return EC_Normal;
    };
    const auto syntaxOf = [&](T_ASC_PresentationContextID id, E_TransferSyntax& out) {
        out = xfer;
        return id == 1 ? EC_Normal : DIMSE_RECEIVEFAILED;
    };
    GatheredIdentifier gathered;
    OFCondition failure;
    const Gathering gathering = GatherIdentifier(next, syntaxOf, kBound, gathered, failure);
    if (gathered.bytes.size() > kBound) std::abort();  // held past the bound
    lumo::dicom::DicomDataSet read;
    if (gathering == Gathering::Complete) ReadIdentifier(gathered, read);
    return 0;
}
