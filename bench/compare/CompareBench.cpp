// CompareResponses on two lists of N study responses as a node sends them
// (fifteen attributes each), one in a hundred differing in one value and one
// in a hundred found on one side only. Run: build/default/bench/compare/compare_bench

#include <benchmark/benchmark.h>

#include <string>

#include "app/NodeComparison.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"

namespace {

using lumo::dicom::DicomDataSet;
using lumo::dicom::DicomDataSets;
using lumo::dicom::Variant;

DicomDataSet Study(int n, bool changed) {
    DicomDataSet study;
    lumo::dicom::DicomAttributes attributes = study.DataSetAttributes();
    const std::string number = std::to_string(n);
    const struct {
        std::uint16_t group, element;
        std::string value;
    } values[] = {
        {0x0008, 0x0005, "ISO_IR 100"},
        {0x0008, 0x0020, "20260105"},
        {0x0008, 0x0030, "101500"},
        {0x0008, 0x0050, "ACC" + number},
        {0x0008, 0x0052, "STUDY"},
        {0x0008, 0x0061, "CT\\MR"},
        {0x0008, 0x0080, changed ? "SUD" : "NORD"},
        {0x0008, 0x0090, "DOCTOR^REFERRING"},
        {0x0010, 0x0010, "PATIENT^NUMBER" + number},
        {0x0010, 0x0020, "PID" + number},
        {0x0010, 0x0030, "19700101"},
        {0x0020, 0x000D, "1.2.826.0.1.3680043.9.7433.9." + number},
        {0x0020, 0x0010, number},
        {0x0020, 0x1206, "2"},
        {0x0020, 0x1208, "120"},
    };
    for (const auto& value : values)
        attributes.AttributesAdd(value.group, value.element, Variant(value.value));
    return study;
}

void BM_CompareResponses(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    DicomDataSets a;
    DicomDataSets b;
    for (int i = 0; i < count; ++i) {
        a.DataSetsAppend(Study(i, false));
        if (i % 100 != 1) b.DataSetsAppend(Study(i % 100 == 2 ? count + i : i, i % 100 == 0));
    }
    for (auto _ : state) {
        const auto comparison = lumo::app::CompareResponses(lumo::app::QueryLevel::Study, a, b);
        benchmark::DoNotOptimize(comparison.matched);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_CompareResponses)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
