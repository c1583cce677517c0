// The driver's report lines read back: the numbers of its "RBarSizes N" and
// "BAR %u RBAR CURRENT %u RBAR MAX %u RBAR NEW %u" lines, the lines of each function, and what
// a size index stands for.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/source/PreviewImage.h"
#include "tools/survey/PreviewRun.h"

// The four numbers of a BAR line.
struct BarLine {
  uint32_t Bar = 0;
  uint32_t Current = 0;
  uint32_t Highest = 0;
  uint32_t Proposed = 0;
};

// The numbers of Line when it is a BAR line (with or without its line end), else nothing.
std::optional<BarLine> ParseBarLine(std::string_view Line);

// The value of an "RBarSizes N" line (with or without its line end), else nothing.
std::optional<uint32_t> ParseSizesLine(std::string_view Line);

// The report lines of each function, without line ends; writes that belong to no function are
// left out.
std::map<FunctionKey, std::vector<std::string>> LinesByFunction(const PreviewRun &Run);

// The report as printed, split at line ends.
std::vector<std::string> ReportTextLines(const PreviewRun &Run);

// 1 MB x 2^Index in bytes, or 0 for an index past 64 bits.
uint64_t SizeIndexBytes(uint32_t Index);
