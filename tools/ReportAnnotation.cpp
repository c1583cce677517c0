// Annotation of the driver's report: function headers and proposed sizes in words.
#include "tools/ReportAnnotation.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "boot/SizeIndexWords.h"

namespace {

// The words of a BAR line, numbers in between.
constexpr std::array<std::string_view, 4> BAR_LINE_WORDS = {"BAR", "RBAR CURRENT", "RBAR MAX",
                                                            "RBAR NEW"};

// Indent of the sizes line below a BAR line.
constexpr std::string_view SIZES_INDENT = "  ";

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

// The function a write belongs to, in the header form "DDDD:BB:DD.F vvvv:dddd".
std::string FunctionHeader(const FunctionKey &Key, const PreviewImage &Image) {
  std::string Header = FormatFunctionAddress(Key);
  const auto Found = std::find_if(Image.begin(), Image.end(), [&](const PreviewFunction &Function) {
    return KeyOf(Function) == Key;
  });
  if (Found != Image.end()) {
    Header += " " + FormatFunctionIds(Found->Config);
  }
  return Header;
}

} // namespace

std::optional<BarLine> ParseBarLine(std::string_view Line) {
  if (!Line.empty() && Line.back() == '\n') {
    Line.remove_suffix(1);
  }
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

std::string SizeIndexText(uint32_t Index) {
  const SizeWords Words = SizeIndexWords(Index);
  if (Words.Unit == nullptr) {
    return "2^" + std::to_string(Words.Count) + " MB";
  }
  return std::to_string(Words.Count) + " " + Words.Unit;
}

std::string RenderReport(const std::vector<ConsoleWrite> &Writes, const PreviewImage &Image,
                         bool Annotate, const BarLineNotes &Notes) {
  std::string Text;
  std::optional<FunctionKey> Previous;
  for (const ConsoleWrite &Write : Writes) {
    if (Annotate && Write.Origin && Write.Origin != Previous) {
      Text += FunctionHeader(*Write.Origin, Image) + "\n";
    }
    Previous = Write.Origin;
    Text += Write.Text;
    if (!Annotate) {
      continue;
    }
    if (const std::optional<BarLine> Bar = ParseBarLine(Write.Text)) {
      if (!Text.empty() && Text.back() != '\n') {
        Text += '\n';
      }
      Text += std::string(SIZES_INDENT) + SizeIndexText(Bar->Current) + " -> " +
              SizeIndexText(Bar->Proposed) + "\n";
      if (Notes && Write.Origin) {
        for (const std::string &Line : Notes(*Write.Origin, *Bar)) {
          Text += Line + "\n";
        }
      }
    }
  }
  return Text;
}
