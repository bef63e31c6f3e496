// Reads arbitrary bytes as a received data set: the plain reading never
// crashes nor reads past the bytes, and whatever it takes, it reads exactly
// as DCMTK reads the same bytes.
#include <dcmtk/oflog/oflog.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "../WireBytes.h"
#include "dicom/WireDataSet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        return true;
    }();
    (void)quiet;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<lumo::dicom::DicomDataSet> plain =
        lumo::dicom::detail::ReadPlainDataSet(bytes);
    if (!plain) return 0;
    lumo::dicom::DicomDataSet byDcmtk;
    if (lumo::dicom::detail::ReadWithDcmtk(bytes, EXS_LittleEndianExplicit, byDcmtk).bad()) {
        std::fprintf(stderr, "read plainly, refused by DCMTK\n");
        std::abort();
    }
    const std::string expected = lumo::dicom::testing::Dump(byDcmtk);
    const std::string got = lumo::dicom::testing::Dump(*plain);
    if (got != expected) {
        std::fprintf(stderr, "plain:\n%s\nDCMTK:\n%s\n", got.c_str(), expected.c_str());
        std::abort();
    }
    return 0;
}
