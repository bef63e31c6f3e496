// DataSetsOfJson on a page of N study answers as Orthanc's DICOMweb plugin
// writes them (eighteen attributes each, person names as objects, numbers as
// numbers), then each answer listed as a study block. Run:
// build/default/bench/web/dicomjson_bench

#include <benchmark/benchmark.h>

#include <string>

#include "app/ResponseListing.h"
#include "dicom/data/DicomJsonReader.h"

namespace {

std::string Page(int answers) {
    std::string page = "[";
    for (int n = 1; n <= answers; ++n) {
        const std::string number = std::to_string(n);
        page += std::string(n > 1 ? "," : "") +
                R"({"00080005":{"vr":"CS","Value":["ISO_IR 192"]},)"
                R"("00080020":{"vr":"DA","Value":["20260105"]},)"
                R"("00080030":{"vr":"TM","Value":["101500"]},)"
                R"("00080050":{"vr":"SH","Value":["ACC)" +
                number +
                R"("]},)"
                R"("00080061":{"vr":"CS","Value":["CT","MR"]},)"
                R"("00080080":{"vr":"LO","Value":["Centre Hospitalier de Démonstration"]},)"
                R"("00080090":{"vr":"PN","Value":[{"Alphabetic":"GIRARD^Anne^^Dr"}]},)"
                R"("0008103E":{"vr":"LO"},)"
                R"("00081190":{"vr":"UR","Value":["http://127.0.0.1:8042/dicom-web/studies/1.2.)" +
                number +
                R"("]},)"
                R"("00100010":{"vr":"PN","Value":[{"Alphabetic":"PATIENT^NUMBER)" +
                number +
                R"("}]},)"
                R"("00100020":{"vr":"LO","Value":["PID)" +
                number +
                R"("]},)"
                R"("00100030":{"vr":"DA","Value":["19700101"]},)"
                R"("00100040":{"vr":"CS","Value":["F"]},)"
                R"("0020000D":{"vr":"UI","Value":["1.2.826.0.1.3680043.9.7433.9.)" +
                number +
                R"("]},)"
                R"("00200010":{"vr":"SH","Value":[")" +
                number +
                R"("]},)"
                R"("00201206":{"vr":"IS","Value":[2]},)"
                R"("00201208":{"vr":"IS","Value":[120]},)"
                R"("00080060":{"vr":"CS","Value":["CT"]}})";
    }
    return page + "]";
}

void BM_ReadPage(benchmark::State& state) {
    const std::string page = Page(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const lumo::dicom::DicomDataSets answers = lumo::dicom::DataSetsOfJson(page);
        benchmark::DoNotOptimize(answers.DataSetsCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
}

void BM_ReadAndListPage(benchmark::State& state) {
    const std::string page = Page(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const lumo::dicom::DicomDataSets answers = lumo::dicom::DataSetsOfJson(page);
        lumo::app::TStrings lines;
        for (int i = 1; i <= answers.DataSetsCount(); ++i)
            lumo::app::ListResponse(lines, answers.DataSetsItem(i), lumo::app::QueryLevel::Study);
        benchmark::DoNotOptimize(lines.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_ReadPage)->Arg(1'000)->Arg(10'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndListPage)->Arg(1'000)->Arg(10'000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
