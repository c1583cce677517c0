// Reading the driver's report lines back into numbers, word by word as the driver prints them.
#include "tools/survey/ReportLines.h"

#include "verdict/BarLineText.h"

namespace {

// The word of a sizes line, the space after it included.
constexpr std::string_view SIZES_LINE_WORD = "RBarSizes ";

// Size index 0 stands for 1 MB.
constexpr uint32_t SIZE_INDEX_ZERO_SHIFT = 20;
constexpr uint32_t BITS_PER_QWORD = 64;
constexpr uint64_t DECIMAL_BASE = 10;

// Line without its line end.
std::string_view WithoutLineEnd(std::string_view Line) {
  if (!Line.empty() && Line.back() == '\n') {
    Line.remove_suffix(1);
  }
  return Line;
}

} // namespace

std::optional<BarLine> ParseBarLine(std::string_view Line) {
  UINT32 Numbers[BAR_LINE_NUMBERS] = {};
  if (!ParseBarLineNumbers(Line.data(), Line.size(), Numbers)) {
    return std::nullopt;
  }
  return BarLine{Numbers[BAR_LINE_BAR], Numbers[BAR_LINE_CURRENT], Numbers[BAR_LINE_HIGHEST],
                 Numbers[BAR_LINE_PROPOSED]};
}

std::optional<uint32_t> ParseSizesLine(std::string_view Line) {
  Line = WithoutLineEnd(Line);
  if (Line.substr(0, SIZES_LINE_WORD.size()) != SIZES_LINE_WORD ||
      Line.size() == SIZES_LINE_WORD.size()) {
    return std::nullopt;
  }
  uint64_t Value = 0;
  for (const char Digit : Line.substr(SIZES_LINE_WORD.size())) {
    if (Digit < '0' || Digit > '9' || Value > UINT32_MAX) {
      return std::nullopt;
    }
    Value = Value * DECIMAL_BASE + static_cast<uint64_t>(Digit - '0');
  }
  if (Value > UINT32_MAX) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(Value);
}

std::map<FunctionKey, std::vector<std::string>> LinesByFunction(const PreviewRun &Run) {
  std::map<FunctionKey, std::vector<std::string>> Lines;
  for (const ConsoleWrite &Write : Run.Writes) {
    if (Write.Origin) {
      Lines[*Write.Origin].emplace_back(WithoutLineEnd(Write.Text));
    }
  }
  return Lines;
}

std::vector<std::string> ReportTextLines(const PreviewRun &Run) {
  std::string Text;
  for (const ConsoleWrite &Write : Run.Writes) {
    Text += Write.Text;
  }
  std::vector<std::string> Lines;
  size_t Start = 0;
  while (Start < Text.size()) {
    const size_t End = Text.find('\n', Start);
    Lines.push_back(Text.substr(Start, End == std::string::npos ? std::string::npos : End - Start));
    Start = End == std::string::npos ? Text.size() : End + 1;
  }
  return Lines;
}

uint64_t SizeIndexBytes(uint32_t Index) {
  return Index + SIZE_INDEX_ZERO_SHIFT < BITS_PER_QWORD ? 1ULL << (Index + SIZE_INDEX_ZERO_SHIFT)
                                                        : 0;
}
