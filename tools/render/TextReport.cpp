// Annotation of the driver's report: function headers and proposed sizes in words.
#include "tools/render/TextReport.h"

#include <algorithm>
#include <string_view>

#include "verdict/SizeIndexWords.h"

namespace {

// Indent of the sizes line below a BAR line.
constexpr std::string_view SIZES_INDENT = "  ";

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
