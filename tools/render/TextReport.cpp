// Annotation of the driver's report: function headers and proposed sizes in words.
#include "tools/render/TextReport.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// Size index n stands for 1 MB x 2^n; every ten indexes the unit grows by 1024.
constexpr uint32_t INDEXES_PER_UNIT = 10;
constexpr std::array<std::string_view, 6> SIZE_UNITS = {"MB", "GB", "TB", "PB", "EB", "ZB"};

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
  const uint32_t Unit = Index / INDEXES_PER_UNIT;
  if (Unit >= SIZE_UNITS.size()) {
    return "2^" + std::to_string(Index) + " MB";
  }
  const uint32_t Count = 1U << (Index % INDEXES_PER_UNIT);
  return std::to_string(Count) + " " + std::string(SIZE_UNITS[Unit]);
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
