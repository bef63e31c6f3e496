// Run: build/<preset>/bench/queryrun/queryrun_bench. The figure behind the
// plain reading of responses: one QueryRun of the console's study query
// against the standalone test node answering N synthetic responses, read
// plainly where they can be ("plain", what the console does) and by DCMTK
// alone ("dcmtk", what LUMO4410_DCMTK_READER=1 does). One node per N serves
// both; one timed run of each, after an untimed one. Real time is what the
// operator waits, bounded by how fast the node sends; CPU time is this
// process's share (receiving and reading), the node running on its own.
// ReadResponse times the reading of one such response alone, no network.
// Figures and how to read them: README.md beside this file.
#include <benchmark/benchmark.h>
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcostrmb.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/queryrun/Identifiers.h"
#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/net/DicomQuery.h"
#include "tests/fixtures/TestNode.h"

namespace {

using lumo::dicom::DicomDataSets;
using lumo::dicom::DicomQuery;
using lumo::testing::TestNodeProcess;

// The node that answers `count` synthetic responses, started on first use
// and stopped at exit.
std::uint16_t NodePortFor(std::int64_t count) {
    static std::map<std::int64_t, std::unique_ptr<TestNodeProcess>> nodes;
    std::unique_ptr<TestNodeProcess>& node = nodes[count];
    if (!node) {
        node = std::make_unique<TestNodeProcess>(
            std::vector<std::string>{"--synthetic", std::to_string(count)});
    }
    return node->Port();
}

void BM_QueryRun(benchmark::State& state, bool dcmtkOnly) {
    const std::int64_t count = state.range(0);
    DicomQuery query;
    query.QuerySetCallingAETitle("Lumo4410");
    query.QuerySetCalledAETitle("NORVANEX");
    query.QuerySetNodeAddress("127.0.0.1");
    query.QuerySetNodePort(NodePortFor(count));
    query.QuerySetRoot("STUDY");
    const bool before = lumo::dicom::detail::SetDcmtkReaderOnly(dcmtkOnly);
    // An untimed run first: whichever variant came first would otherwise pay
    // for growing the heap to hold N responses, and the node for its start.
    (void)query.QueryRun(lumo::bench::StudyIdentifier());
    for (auto _ : state) {
        const DicomDataSets responses = query.QueryRun(lumo::bench::StudyIdentifier());
        if (responses.DataSetsCount() != count) state.SkipWithError("responses missing");
    }
    lumo::dicom::detail::SetDcmtkReaderOnly(before);
    state.counters["responses/s"] = benchmark::Counter(
        static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}

// The bytes of one response shaped like the test node's synthetic study
// responses, in explicit VR little endian as it sends them.
std::string StudyResponseBytes() {
    DcmDataset response =
        lumo::testing::MakeDataSet({{DCM_SpecificCharacterSet, "ISO_IR 100"},
                                    {DCM_AccessionNumber, "ACC12345"},
                                    {DCM_QueryRetrieveLevel, "STUDY"},
                                    {DCM_InstitutionName, "SYNTHETIC HOSPITAL"},
                                    {DCM_ReferringPhysicianName, "REFERRING^DOCTOR"},
                                    {DCM_PatientName, "SYNTHETIC^PATIENT12345"},
                                    {DCM_PatientID, "PID12345"},
                                    {DCM_PatientBirthDate, "19700101"},
                                    {DCM_StudyDate, "20260101"},
                                    {DCM_StudyTime, "080000"},
                                    {DCM_Modality, "CT"},
                                    {DCM_StudyInstanceUID, "1.2.826.0.1.3680043.9.7433.1.12345"},
                                    {DCM_NumberOfStudyRelatedSeries, "2"},
                                    {DCM_NumberOfStudyRelatedInstances, "10"}});
    std::vector<char> buffer(4096);
    DcmOutputBufferStream stream(buffer.data(), buffer.size());
    response.transferInit();
    const OFCondition cond =
        response.write(stream, EXS_LittleEndianExplicit, EET_ExplicitLength, nullptr);
    response.transferEnd();
    void* bytes = nullptr;
    offile_off_t length = 0;
    stream.flushBuffer(bytes, length);
    if (cond.bad()) return std::string();
    return std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(length));
}

void BM_ReadResponse(benchmark::State& state, bool dcmtkOnly) {
    const std::string bytes = StudyResponseBytes();
    if (bytes.empty()) state.SkipWithError("cannot encode the response");
    const bool before = lumo::dicom::detail::SetDcmtkReaderOnly(dcmtkOnly);
    for (auto _ : state) {
        lumo::dicom::DicomDataSet response;
        if (lumo::dicom::detail::ReadReceivedDataSet(bytes, EXS_LittleEndianExplicit, response)
                .bad()) {
            state.SkipWithError("unreadable response");
        }
        benchmark::DoNotOptimize(response);
    }
    lumo::dicom::detail::SetDcmtkReaderOnly(before);
}

BENCHMARK_CAPTURE(BM_QueryRun, plain, false)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_QueryRun, dcmtk, true)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_ReadResponse, plain, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ReadResponse, dcmtk, true)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
