// The explanation as text below each BAR line of the annotated report: the path drawn as a tree
// in the manner of `lspci -tv`, outermost bridge first.
#include "tools/render/ExplainText.h"

#include <cstdio>

#include "tools/render/FirmwareText.h"
#include "tools/render/TextReport.h"
#include "tools/source/ConfigRegisters.h"

namespace {

// Indent of explanation lines; of the root bus and its first bridge in the tree; and of each
// level below, which puts a branch under the slot of its parent.
constexpr const char *LINE_INDENT = "  ";
constexpr const char *TREE_ROOT_INDENT = "    ";
constexpr const char *TREE_FIRST_INDENT = "     ";
constexpr const char *TREE_STEP = "   ";
// Hex digits of a 32-bit and a 64-bit address, as lspci shows windows.
constexpr int DIGITS_32 = 8;
constexpr int DIGITS_64 = 16;

// "e0000000" or "00000040e0000000": Digits hex digits.
std::string HexDigits(uint64_t Value, int Digits) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "%0*llx", Digits, static_cast<unsigned long long>(Value));
  return Text;
}

// "prefetchable memory window 00000040e0000000-00000040efffffff (256 MB, 64-bit)".
std::string WindowText(const BridgeWindow &Window) {
  std::string Text = Window.Prefetchable ? "prefetchable memory window " : "memory window ";
  if (!Window.Enabled) {
    return Text + "disabled";
  }
  const int Digits = Window.Decodes64 ? DIGITS_64 : DIGITS_32;
  return Text + HexDigits(Window.Base, Digits) + "-" + HexDigits(Window.Limit, Digits) + " (" +
         ByteSizeText(WindowSize(Window)) + (Window.Decodes64 ? ", 64-bit)" : ", 32-bit)");
}

// What a window of the path means for Size: "holds 32 GB", "too small for 32 GB", ...
std::string WindowMark(const BridgeWindow &Window, uint64_t Size) {
  const std::string Words = ByteSizeText(Size);
  if (!Window.Enabled) {
    return "holds none of " + Words;
  }
  if (NeedsSixtyFourBit(Size) && !Window.Decodes64) {
    return "32-bit only, " + Words + " needs 64-bit";
  }
  return WindowHoldsAligned(Window, Size) ? "holds " + Words : "too small for " + Words;
}

// "DD.F" of a function, as lspci -t names it on its bus.
std::string SlotText(const ConfigFunction &Function) {
  char Text[8];
  std::snprintf(Text, sizeof Text, "%02x.%x", Function.Device, Function.Function);
  return Text;
}

// "[01-03]" or "[03]": a bridge's bus range as lspci -t shows it.
std::string BusRangeText(uint8_t Secondary, uint8_t Subordinate) {
  char Text[16];
  if (Secondary == Subordinate) {
    std::snprintf(Text, sizeof Text, "[%02x]", Secondary);
  } else {
    std::snprintf(Text, sizeof Text, "[%02x-%02x]", Secondary, Subordinate);
  }
  return Text;
}

// The tree lines of the path, from the root bus to the function's BAR.
void AddPathLines(const BarExplanation &Explanation, const PreviewFunction &Function,
                  std::vector<std::string> &Lines) {
  const ProposalFacts &Facts = Explanation.Facts;
  char Root[16];
  std::snprintf(Root, sizeof Root, "[%04x:%02x]", Facts.Domain, Facts.RootBus);
  Lines.push_back(std::string(LINE_INDENT) + "path:");
  Lines.push_back(TREE_ROOT_INDENT + std::string(Root));
  std::string Indent = TREE_FIRST_INDENT;
  for (UINTN Index = 0; Index < Facts.Path.Count; ++Index) {
    const PathBridge &Step = Facts.Path.Steps[Index];
    const ConfigFunction &Bridge = Explanation.PathFunctions[Index]->Config;
    Lines.push_back(Indent + "\\-" + SlotText(Bridge) + "-" +
                    BusRangeText(Step.Secondary, Step.Subordinate) + " " +
                    FormatFunctionIds(Bridge) + "  " + WindowText(Step.Window) + ": " +
                    WindowMark(Step.Window, Facts.Size));
    Indent += TREE_STEP;
  }
  Lines.push_back(Indent + "\\-" + SlotText(Function.Config) + " " +
                  FormatFunctionIds(Function.Config) + "  BAR " + std::to_string(Facts.Bar));
}

} // namespace

std::vector<std::string> ExplanationLines(const BarExplanation &Explanation) {
  std::vector<std::string> Lines;
  const ProposalFacts &Facts = Explanation.Facts;
  // At its largest size the driver proposes the next smaller one: say so before explaining it,
  // so that "8 GB -> 4 GB" is not read as advice to shrink.
  const BarLine &Shown = Explanation.Line;
  if (Shown.Current == Shown.Highest && Shown.Proposed < Shown.Current) {
    Lines.push_back(std::string(LINE_INDENT) + "BAR " + std::to_string(Shown.Bar) +
                    " already has its largest size, " + SizeIndexText(Shown.Current) +
                    "; the driver proposes the next smaller size, " +
                    SizeIndexText(Shown.Proposed) + ", explained below (not advice to shrink)");
  }
  std::string Kind = std::string(LINE_INDENT) + "BAR " + std::to_string(Facts.Bar) + ": " +
                     BarKindText(Facts.Placement, Facts.Bar);
  const bool Memory = IsMemoryBar(Facts.Placement.Kind);
  if (Memory) {
    const int Digits = Facts.Placement.Kind == BarKind::Memory64 ? DIGITS_64 : DIGITS_32;
    Kind += ", at " + HexDigits(Facts.Placement.Address, Digits) + ", current size " +
            ByteSizeText(Explanation.CurrentSize);
  }
  Lines.push_back(Kind);
  if (Memory) {
    AddPathLines(Explanation, *Explanation.Function, Lines);
  }
  if (!Explanation.Sharers.empty()) {
    Lines.push_back(std::string(LINE_INDENT) + "shares the window of " +
                    FormatFunctionAddress(KeyOf(*Explanation.PathFunctions.back())) + " with:");
    for (const SharerFacts &Sharer : Explanation.Sharers) {
      const PreviewFunction &Other = *Sharer.Sharer.Function;
      std::string Line =
          std::string(TREE_ROOT_INDENT) + FormatFunctionAddress(KeyOf(Other)) + " " +
          FormatFunctionIds(Other.Config) + " BAR " + std::to_string(Sharer.Sharer.Bar) + " at " +
          HexDigits(Sharer.Sharer.Address, Sharer.Sharer.Address < FOUR_GB ? DIGITS_32 : DIGITS_64);
      Line += Sharer.Size != 0 ? " (" + ByteSizeText(Sharer.Size) + ")" : " (size unknown)";
      Lines.push_back(Line);
    }
  }
  Lines.push_back(std::string(LINE_INDENT) +
                  "verdict: " + VerdictText(Explanation.Judged, Explanation.Facts));
  return Lines;
}

std::string RenderExplainedReport(const std::vector<ConsoleWrite> &Writes,
                                  const ExplainSources &Sources) {
  std::string Facts;
  if (Sources.Firmware != nullptr) {
    for (const std::string &Line : FirmwareApertureLines(*Sources.Firmware, *Sources.Apertures)) {
      Facts += Line + "\n";
    }
  }
  return Facts +
         RenderReport(Writes, *Sources.Image, true,
                      [&](const FunctionKey &Key, const BarLine &Bar) -> std::vector<std::string> {
                        const PreviewFunction *Function = FindFunction(*Sources.Image, Key);
                        if (Function == nullptr) {
                          return {};
                        }
                        return ExplanationLines(ExplainBar(Sources, *Function, Bar));
                      });
}
