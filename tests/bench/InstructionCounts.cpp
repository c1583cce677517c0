// Runs each case between CALLGRIND_ZERO_STATS and CALLGRIND_DUMP_STATS_AT. A first call
// outside the counted stretch resolves lazy symbol bindings and fills the buffers' pages.
#include "tests/bench/InstructionCounts.h"

#include <valgrind/callgrind.h>

#include <cstdio>
#include <string>

#include "tests/bench/FormatCases.h"
#include "tests/bench/ScanCases.h"

void CountInstructions() {
  std::printf("calls per format case: %llu\n",
              static_cast<unsigned long long>(COUNTED_FORMAT_CALLS));
  for (const FormatCase &Case : FormatCases()) {
    for (const Renderer Which : ALL_RENDERERS) {
      RenderBuffers Buffers;
      PrepareBuffers(Case, Buffers);
      RenderCase(Case, Which, Buffers);
      const std::string Name = std::string("format/") + Case.Name + "/" + RendererName(Which);
      CALLGRIND_ZERO_STATS;
      for (uint64_t Call = 0; Call < COUNTED_FORMAT_CALLS; ++Call) {
        RenderCase(Case, Which, Buffers);
      }
      CALLGRIND_DUMP_STATS_AT(Name.c_str());
    }
  }
  for (const ScanCase &Case : ScanCases()) {
    // The first run warms the same paths the counted one takes.
    RunScan(*PrepareScan(Case));
    const auto Platform = PrepareScan(Case);
    const std::string Name = std::string("scan/") + Case.Name;
    CALLGRIND_ZERO_STATS;
    RunScan(*Platform);
    CALLGRIND_DUMP_STATS_AT(Name.c_str());
  }
}
