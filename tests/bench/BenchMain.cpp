// rbar_bench: checks that the format engine, snprintf and {fmt} render every case to the same
// text, then runs the Google Benchmark cases, or with --count-instructions runs each case once
// for callgrind to count.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/bench/BenchmarkCases.h"
#include "tests/bench/FormatCases.h"
#include "tests/bench/InstructionCounts.h"

int main(int argc, char **argv) {
  const std::vector<std::string> Differences = CheckIdenticalTexts();
  for (const std::string &Difference : Differences) {
    std::fprintf(stderr, "rbar_bench: %s\n", Difference.c_str());
  }
  if (!Differences.empty()) {
    return 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--count-instructions") == 0) {
    CountInstructions();
    return 0;
  }
  RegisterBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 2;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
