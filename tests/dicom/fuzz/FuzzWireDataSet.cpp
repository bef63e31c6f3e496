// Reads arbitrary bytes as a received data set: the plain reading and the
// walk that bounds nesting before DCMTK reads never crash nor read past the
// bytes; the walk never refuses what the plain reading takes (both stop at
// the same depth); and whatever the plain reading takes, it reads exactly as
// DCMTK reads the same bytes.
#include <dcmtk/oflog/oflog.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "../WireBytes.h"
#include "dicom/data/detail/NestingScan.h"
#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/data/detail/ReceivedRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        return true;
    }();
    (void)quiet;
    using lumo::dicom::detail::kMaxNesting;
    using lumo::dicom::detail::NestsWithin;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const bool within = NestsWithin(bytes, EXS_LittleEndianExplicit, kMaxNesting);
    (void)NestsWithin(bytes, EXS_LittleEndianImplicit, kMaxNesting);
    (void)NestsWithin(bytes, EXS_BigEndianExplicit, kMaxNesting);
    const std::optional<lumo::dicom::DicomDataSet> plain =
        lumo::dicom::detail::ReadPlainDataSet(bytes);
    if (!plain) return 0;
    if (!within) {
        std::fprintf(stderr, "read plainly, refused by the nesting walk\n");
        std::abort();
    }
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
