// Google Benchmark registrations: every format case with every renderer, and
// every scan machine. Scan iterations time the driver run alone, on a fresh platform each.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "tests/bench/BenchmarkCases.h"
#include "tests/bench/FormatCases.h"
#include "tests/bench/ScanCases.h"

namespace {

void FormatBenchmark(benchmark::State &State, const FormatCase *Case, Renderer Which) {
  RenderBuffers Buffers;
  PrepareBuffers(*Case, Buffers);
  size_t Characters = 0;
  while (State.KeepRunning()) {
    Characters = RenderCase(*Case, Which, Buffers);
    benchmark::DoNotOptimize(Characters);
    benchmark::ClobberMemory();
  }
  State.counters["chars"] = static_cast<double>(Characters);
}

void ScanBenchmark(benchmark::State &State, const ScanCase *Case) {
  uint64_t Reads = 0;
  while (State.KeepRunning()) {
    const std::unique_ptr<HostPlatform> Platform = PrepareScan(*Case);
    const auto Start = std::chrono::steady_clock::now();
    Reads = RunScan(*Platform);
    const auto Stop = std::chrono::steady_clock::now();
    State.SetIterationTime(std::chrono::duration<double>(Stop - Start).count());
  }
  State.counters["reads"] = static_cast<double>(Reads);
  State.counters["expected_reads"] = static_cast<double>(Case->ExpectedReads);
  if (Reads != Case->ExpectedReads) {
    State.SkipWithError("the scan made another number of reads than its rules require");
  }
}

} // namespace

void RegisterBenchmarks() {
  for (const FormatCase &Case : FormatCases()) {
    for (const Renderer Which : ALL_RENDERERS) {
      const std::string Name = std::string("format/") + Case.Name + "/" + RendererName(Which);
      benchmark::RegisterBenchmark(Name.c_str(), FormatBenchmark, &Case, Which);
    }
  }
  for (const ScanCase &Case : ScanCases()) {
    const std::string Name = std::string("scan/") + Case.Name;
    benchmark::RegisterBenchmark(Name.c_str(), ScanBenchmark, &Case)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
  }
}
