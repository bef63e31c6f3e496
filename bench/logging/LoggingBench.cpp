// Run: build/<preset>/bench/logging/logging_bench
//   --benchmark_filter=... to pick one measurement.
// Every measurement works in a fresh folder under /tmp, removed at the end.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "logging/uApplicationLogger.h"
#include "logging/uFileLogger.h"
#include "logging/uMemoryLogger.h"
#include "support/Application.h"

namespace {

using namespace lumo;

// A temporary program folder for one measurement.
class BenchFolder {
  public:
    BenchFolder() {
        char pattern[] = "/tmp/lumo-logging-bench-XXXXXX";
        if (!::mkdtemp(pattern)) std::abort();
        path_ = pattern;
        SetProgramFileName(path_ + "/lumo4410");
    }
    ~BenchFolder() {
        SetProgramFileName("");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A typical line of the program: the worklist check's trace.
const std::string kText = "Check Reponse 12 : Scheduled Procedure Step Start Date absente";

void WriteConfig(const BenchFolder& folder, const std::string& entries) {
    std::ofstream(folder / "AppLogger.xml")
        << "<AppLogger Version=\"1.2\"><AllStations><Application ExeName=\"LUMO4410\">" << entries
        << "</Application></AllStations></AppLogger>";
}

// The caller's cost of AppLogger().Log with one file destination: each call
// is timed on its own, and the median and 99th percentile are reported.
void BM_AppLoggerLogCall(benchmark::State& state) {
    BenchFolder folder;
    WriteConfig(folder,
                "<F class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\">"
                "<FileName>app.log</FileName></F>");
    AppLogger();  // created outside the measurement
    std::vector<double> samples;
    samples.reserve(1 << 20);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        AppLogger().Log(kText, 100, 0);
        const auto end = std::chrono::steady_clock::now();
        samples.push_back(std::chrono::duration<double, std::nano>(end - start).count());
    }
    ShutdownAppLogger();  // writes the backlog, after the timed loop
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["median_ns"] = samples[samples.size() / 2];
        state.counters["p99_ns"] = samples[samples.size() * 99 / 100];
        state.counters["max_ns"] = samples.back();
    }
}
BENCHMARK(BM_AppLoggerLogCall)->Iterations(200000)->Unit(benchmark::kNanosecond);

// The file logger on its own: one open-write-close per line.
void BM_FileLoggerLines(benchmark::State& state) {
    BenchFolder folder;
    TFileLogger logger(255, 0, {"FileName=file.log"}, true, "yyyy-mm-dd hh:nn:ss.zzz", true);
    for (auto _ : state) logger.Log(kText, 100, 0);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FileLoggerLines)->MinTime(1.0)->UseRealTime();

// The same lines, prefix included, through one open file and fprintf+fflush.
void BM_FprintfFflushLines(benchmark::State& state) {
    BenchFolder folder;
    std::FILE* file = std::fopen((folder / "plain.log").c_str(), "w");
    const std::string line = "2026-12-07 09:41:03.250: [100] " + kText;
    for (auto _ : state) {
        std::fprintf(file, "%s\r\n", line.c_str());
        std::fflush(file);
    }
    std::fclose(file);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FprintfFflushLines)->MinTime(1.0)->UseRealTime();

// The memory logger in Buffer mode: lines written in blocks of MaxLigne.
void BM_MemoryLoggerBufferLines(benchmark::State& state) {
    BenchFolder folder;
    {
        TMemoryLogger logger(255, 0, {"FileName=memory.log", "DumpType=Buffer", "MaxLigne=1024"},
                             true, "yyyy-mm-dd hh:nn:ss.zzz", true);
        for (auto _ : state) logger.Log(kText, 100, 0);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemoryLoggerBufferLines)->MinTime(1.0)->UseRealTime();

// A destination that holds the thread until released, so records pile up.
class HeldDestination : public TLogger {
  public:
    HeldDestination() : TLogger(255, 0, {}, false, "", false) {}
    void Release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        cv_.notify_all();
    }

  protected:
    void DoLog(const std::string&) override {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return released_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool released_ = false;
};

// Heap bytes in use: unlike the resident size, not hidden by memory the
// allocator kept from an earlier repetition.
double HeapBytesInUse() { return static_cast<double>(::mallinfo2().uordblks); }

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Memory taken by a million records queued behind a destination that does
// not move.
void BM_MillionQueuedRecords(benchmark::State& state) {
    BenchFolder folder;
    for (auto _ : state) {
        state.PauseTiming();
        auto held = std::make_unique<HeldDestination>();
        HeldDestination& destination = *held;
        AppLogger().AddLogger(std::move(held));
        const long before = ResidentBytes();
        const double heapBefore = HeapBytesInUse();
        state.ResumeTiming();
        for (int i = 0; i < 1000000; ++i) AppLogger().Log(kText, 100, 0);
        state.PauseTiming();
        const long after = ResidentBytes();
        const double heap = HeapBytesInUse() - heapBefore;
        state.counters["queued"] = static_cast<double>(AppLogger().Thread().QueuedCount());
        state.counters["rss_MB"] = static_cast<double>(after - before) / (1024.0 * 1024.0);
        state.counters["heap_MB"] = heap / (1024.0 * 1024.0);
        state.counters["heap_bytes_per_record"] = heap / 1e6;
        // Let the backlog go without writing it.
        std::thread releaser([&] {
            while (!AppLogger().Thread().StopRequested()) std::this_thread::yield();
            destination.Release();
        });
        AppLogger().Thread().Stop(std::chrono::milliseconds(0));
        releaser.join();
        ShutdownAppLogger();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MillionQueuedRecords)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
