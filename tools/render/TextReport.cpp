// Annotation of the driver's report: function headers and proposed sizes in words.
#include "tools/render/TextReport.h"

#include <algorithm>
#include <string_view>

#include "driver/PciRegisters.h"
#include "tools/render/BarNotes.h"
#include "tools/source/ConfigRegisters.h"
#include "verdict/ReportNotes.h"
#include "verdict/SizeIndexWords.h"

namespace {

// Characters of a line naming skipped functions, with room to spare.
constexpr size_t SKIPPED_LINE_CHARS = 160;
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

// The function of Image at Key, or null.
const PreviewFunction *FindImageFunction(const PreviewImage &Image, const FunctionKey &Key) {
  const auto Found = std::find_if(Image.begin(), Image.end(), [&](const PreviewFunction &Function) {
    return KeyOf(Function) == Key;
  });
  return Found == Image.end() ? nullptr : &*Found;
}

// Appends each of Lines with its line end, starting a line first if Text ends inside one.
void AddLines(std::string &Text, const std::vector<std::string> &Lines) {
  for (const std::string &Line : Lines) {
    if (!Text.empty() && Text.back() != '\n') {
      Text += '\n';
    }
    Text += Line + "\n";
  }
}

// One line per device whose functions 1 to 7 the driver skipped: "0000:02:00.1-7 not scanned:
// ...", naming the first and the last skipped function of the image (a dump holds them sorted).
std::vector<std::string> SkippedFunctionLines(const PreviewImage &Image) {
  std::vector<std::string> Lines;
  for (size_t Index = 0; Index < Image.size(); ++Index) {
    if (!SkippedAfterSingleFunction(Image, Image[Index])) {
      continue;
    }
    size_t Last = Index;
    while (Last + 1 < Image.size() && SkippedAfterSingleFunction(Image, Image[Last + 1]) &&
           Image[Last + 1].Domain == Image[Index].Domain &&
           Image[Last + 1].Config.Bus == Image[Index].Config.Bus &&
           Image[Last + 1].Config.Device == Image[Index].Config.Device) {
      ++Last;
    }
    char Text[SKIPPED_LINE_CHARS];
    TextBuffer Out = MakeTextBuffer(Text, sizeof Text);
    const ConfigFunction &Function = Image[Index].Config;
    AppendSkippedFunctions(Out, Image[Index].Domain, Function.Bus, Function.Device,
                           Function.Function, Image[Last].Config.Function);
    Lines.emplace_back(Text, Out.Length);
    Index = Last;
  }
  return Lines;
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
  // The function's "RBarSizes" lines so far, and the notes of the last one, which follow its
  // BAR line's sizes when there is one.
  size_t SizesLines = 0;
  std::vector<std::string> Pending;
  for (size_t Index = 0; Index < Writes.size(); ++Index) {
    const ConsoleWrite &Write = Writes[Index];
    if (Annotate && Write.Origin && Write.Origin != Previous) {
      Text += FunctionHeader(*Write.Origin, Image) + "\n";
      SizesLines = 0;
    }
    Previous = Write.Origin;
    Text += Write.Text;
    if (!Annotate) {
      continue;
    }
    if (const std::optional<uint32_t> Mask = ParseSizesLine(Write.Text); Mask && Write.Origin) {
      const bool Proposed = Index + 1 < Writes.size() && Writes[Index + 1].Origin == Write.Origin &&
                            ParseBarLine(Writes[Index + 1].Text).has_value();
      const PreviewFunction *Function = FindImageFunction(Image, *Write.Origin);
      Pending = Function != nullptr ? BarNotes(*Function, SizesLines, *Mask, Proposed)
                                    : std::vector<std::string>{};
      ++SizesLines;
      if (!Proposed) {
        AddLines(Text, Pending);
      }
      continue;
    }
    if (const std::optional<BarLine> Bar = ParseBarLine(Write.Text)) {
      if (!Text.empty() && Text.back() != '\n') {
        Text += '\n';
      }
      Text += std::string(SIZES_INDENT) + SizeIndexText(Bar->Current) + " -> " +
              SizeIndexText(Bar->Proposed) + "\n";
      AddLines(Text, Pending);
      if (Notes && Write.Origin) {
        AddLines(Text, Notes(*Write.Origin, *Bar));
      }
    }
  }
  if (Annotate) {
    AddLines(Text, SkippedFunctionLines(Image));
  }
  return Text;
}

bool SkippedAfterSingleFunction(const PreviewImage &Image, const PreviewFunction &Function) {
  if (Function.Config.Function == 0) {
    return false;
  }
  FunctionKey First = KeyOf(Function);
  First.Function = 0;
  const PreviewFunction *Zero = FindImageFunction(Image, First);
  return Zero != nullptr && (ReadConfig8(Zero->Config, PCI_HEADER_TYPE_REGISTER) &
                             PCI_HEADER_TYPE_MULTI_FUNCTION) == 0;
}
