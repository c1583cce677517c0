// Strict parsing of the report lines and the relations between their values.
#include "tests/host/ReportLines.h"

#include <bit>

namespace {

// Supported sizes are bits 4-23 of the capability register: 20 size indexes.
constexpr uint64_t LARGEST_SIZE_MASK = (1ULL << 20) - 1;
constexpr uint64_t LAST_BAR = 5;
// The control register's current size field has 5 bits.
constexpr uint64_t LARGEST_CURRENT_INDEX = 31;
// Index 0 (1 MB) is never proposed.
constexpr uint64_t SMALLEST_PROPOSAL = 1;
// More digits than any value of a report line holds.
constexpr size_t MAX_DIGITS = 10;

// A cursor over one console write, consuming literal text and decimal numbers.
struct LineReader {
  const std::u16string &Text;
  size_t Position = 0;

  bool Literal(const char *Expected) {
    for (; *Expected != 0; ++Expected, ++Position) {
      if (Position >= Text.size() || Text[Position] != static_cast<char16_t>(*Expected)) {
        return false;
      }
    }
    return true;
  }

  // A decimal number: "0" alone or digits without a leading zero.
  bool Number(uint64_t &Value) {
    const size_t Start = Position;
    Value = 0;
    while (Position < Text.size() && Text[Position] >= u'0' && Text[Position] <= u'9' &&
           Position - Start < MAX_DIGITS) {
      Value = Value * 10 + (Text[Position] - u'0');
      ++Position;
    }
    const size_t Digits = Position - Start;
    return Digits > 0 && (Digits == 1 || Text[Start] != u'0') &&
           !(Position < Text.size() && Text[Position] >= u'0' && Text[Position] <= u'9');
  }

  bool AtEnd() const { return Position == Text.size(); }
};

uint64_t HighestBit(uint64_t Mask) {
  return std::bit_width(Mask) - 1;
}

} // namespace

std::optional<ReportLine> ParseReportLine(const std::u16string &Write) {
  LineReader Sizes{Write};
  uint64_t Mask = 0;
  if (Sizes.Literal("RBarSizes ") && Sizes.Number(Mask) && Sizes.Literal("\r\n") && Sizes.AtEnd()) {
    return ReportLine{SizesLine{Mask}, std::nullopt};
  }
  LineReader Bar{Write};
  BarLine Values{};
  if (Bar.Literal("BAR ") && Bar.Number(Values.Bar) && Bar.Literal(" RBAR CURRENT ") &&
      Bar.Number(Values.Current) && Bar.Literal(" RBAR MAX ") && Bar.Number(Values.Max) &&
      Bar.Literal(" RBAR NEW ") && Bar.Number(Values.New) && Bar.Literal("\r\n") && Bar.AtEnd()) {
    return ReportLine{std::nullopt, Values};
  }
  return std::nullopt;
}

std::string ImpossibleValues(const ReportLine &Line) {
  if (Line.Sizes) {
    const uint64_t Mask = Line.Sizes->Mask;
    return Mask == 0 || Mask > LARGEST_SIZE_MASK ? "sizes mask out of 1 to 20 bits" : "";
  }
  const BarLine &Bar = *Line.Bar;
  if (Bar.Bar > LAST_BAR) {
    return "BAR index above 5";
  }
  if (Bar.Current > LARGEST_CURRENT_INDEX) {
    return "current index beyond its 5-bit field";
  }
  if (Bar.New < SMALLEST_PROPOSAL || Bar.New > Bar.Max) {
    return "proposal outside 1 to the largest index";
  }
  if (Bar.New == Bar.Current) {
    return "proposal equal to the current index";
  }
  return "";
}

std::string BarLineMismatch(const SizesLine &Sizes, const BarLine &Bar) {
  if (Bar.Max != HighestBit(Sizes.Mask)) {
    return "largest index is not the mask's highest bit";
  }
  for (uint64_t Candidate = Bar.Max; Candidate >= SMALLEST_PROPOSAL; --Candidate) {
    if (Candidate != Bar.Current && (Sizes.Mask & (1ULL << Candidate)) != 0) {
      return Candidate == Bar.New ? "" : "proposal is not the largest other supported size";
    }
  }
  return "a proposal although no other size is supported";
}

bool MayStandAlone(const SizesLine &Sizes) {
  return std::popcount(Sizes.Mask >> SMALLEST_PROPOSAL) <= 1;
}
