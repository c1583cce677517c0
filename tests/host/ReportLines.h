// The two report lines the driver prints, parsed strictly from what the console received:
//   "RBarSizes M\r\n"
//   "BAR k RBAR CURRENT c RBAR MAX m RBAR NEW n\r\n"
// with decimal numbers without leading zeros, single blanks and nothing else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct SizesLine {
  uint64_t Mask;
};

struct BarLine {
  uint64_t Bar;
  uint64_t Current;
  uint64_t Max;
  uint64_t New;
};

struct ReportLine {
  std::optional<SizesLine> Sizes;
  std::optional<BarLine> Bar;
};

// The line one console write holds, or nothing when it is not exactly one report line.
std::optional<ReportLine> ParseReportLine(const std::u16string &Write);

// Why a well-formed line holds values the evaluation cannot produce, or an empty string:
// a sizes mask of 1 to 20 bits; a BAR index 0 to 5, a current index of 5 bits, a proposal
// from 1 up to the largest index, never the current one.
std::string ImpossibleValues(const ReportLine &Line);

// Why a BAR line cannot follow the sizes line before it, or an empty string: its largest index
// is the mask's highest bit, and its proposal the largest set bit from 1 up that is not the
// current index.
std::string BarLineMismatch(const SizesLine &Sizes, const BarLine &Bar);

// True when a sizes line with this mask may stand without a BAR line after it: at most one
// size from index 1 up is supported (the current one, or none).
bool MayStandAlone(const SizesLine &Sizes);
