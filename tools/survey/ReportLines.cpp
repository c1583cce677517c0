// Reading the driver's report lines back into numbers, word by word as the driver prints them.
#include "tools/survey/ReportLines.h"

#include <array>
#include <charconv>

namespace {

// The words of a BAR line, numbers in between.
constexpr std::array<std::string_view, 4> BAR_LINE_WORDS = {"BAR", "RBAR CURRENT", "RBAR MAX",
                                                            "RBAR NEW"};
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

// Takes Word and the single space after it from the front of Text.
bool TakeWord(std::string_view &Text, std::string_view Word) {
  if (Text.substr(0, Word.size()) != Word || Text.size() == Word.size() ||
      Text[Word.size()] != ' ') {
    return false;
  }
  Text.remove_prefix(Word.size() + 1);
  return true;
}

// Takes a decimal number from the front of Text, and the space after it unless Last.
bool TakeNumber(std::string_view &Text, uint32_t &Value, bool Last) {
  const char *End = Text.data() + Text.size();
  const std::from_chars_result Result = std::from_chars(Text.data(), End, Value);
  if (Result.ec != std::errc{} || Result.ptr == Text.data()) {
    return false;
  }
  Text.remove_prefix(static_cast<size_t>(Result.ptr - Text.data()));
  if (Last) {
    return true;
  }
  if (Text.empty() || Text.front() != ' ') {
    return false;
  }
  Text.remove_prefix(1);
  return true;
}

} // namespace

std::optional<BarLine> ParseBarLine(std::string_view Line) {
  Line = WithoutLineEnd(Line);
  BarLine Parsed;
  std::array<uint32_t *, BAR_LINE_WORDS.size()> Values = {&Parsed.Bar, &Parsed.Current,
                                                          &Parsed.Highest, &Parsed.Proposed};
  for (size_t Index = 0; Index < BAR_LINE_WORDS.size(); ++Index) {
    if (!TakeWord(Line, BAR_LINE_WORDS[Index]) ||
        !TakeNumber(Line, *Values[Index], Index + 1 == BAR_LINE_WORDS.size())) {
      return std::nullopt;
    }
  }
  if (!Line.empty()) {
    return std::nullopt;
  }
  return Parsed;
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
