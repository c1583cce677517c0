// What the survey found, per function and per reported BAR, gathered once from the run and the
// image so that every document (JSON, metrics) renders the same facts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/source/PreviewImage.h"
#include "tools/survey/PreviewRun.h"
#include "tools/survey/ReportLines.h"

// One BAR of the report: an "RBarSizes" line, with the BAR line that follows it, if any.
struct ReportedBar {
  // The BAR index: the BAR line's, else the host-side decoding's when it agrees with the report
  // on every mask of the function; else unknown.
  std::optional<uint32_t> Bar;
  // The "RBarSizes" value: bit n for 1 MB x 2^n.
  uint32_t Mask = 0;
  // The current size index: the BAR line's, else the control register's (known as Bar is).
  std::optional<uint32_t> Current;
  // The largest size index of the mask (the BAR line's RBAR MAX).
  uint32_t Largest = 0;
  // The BAR line, when the driver proposed a size.
  std::optional<BarLine> Proposal;
};

struct ReportedFunction {
  const PreviewFunction *Function = nullptr;
  FunctionKey Key;
  FunctionFacts Known;
  // The driver's report lines for the function, without line ends.
  std::vector<std::string> Lines;
  std::vector<ReportedBar> Bars;
};

struct SurveyFacts {
  // Every function of the image, in address order.
  std::vector<ReportedFunction> Functions;
  size_t RootBridges = 0;
  size_t FunctionsScanned = 0;
  // Scanned functions with a Resizable BAR capability.
  size_t FunctionsWithRebar = 0;
  uint64_t ConfigurationReads = 0;
};

SurveyFacts GatherSurveyFacts(const PreviewRun &Run, const PreviewImage &Image);
