// The JSON document, built with nlohmann-json so that every string is escaped and every
// document is well formed, whatever the driver printed.
#include "tools/JsonReport.h"

#include <nlohmann/json.hpp>

#include "driver/RebarEvaluation.h"
#include "tools/ConfigRegisters.h"
#include "tools/RebarEntries.h"

namespace {

using json = nlohmann::ordered_json;

// Spaces per level of the printed document.
constexpr int JSON_INDENT = 2;
// Size indexes a mask can hold (bits 0 to 31).
constexpr uint32_t MASK_BITS = 32;

// "vvvv" and "dddd" of a function.
std::string IdPart(const ConfigFunction &Function, bool Vendor) {
  const std::string Ids = FormatFunctionIds(Function);
  return Vendor ? Ids.substr(0, Ids.find(':')) : Ids.substr(Ids.find(':') + 1);
}

// A window as its type, state, bounds and size.
json WindowJson(const BridgeWindow &Window) {
  json Object = {{"type", Window.Prefetchable ? "prefetchable" : "memory"},
                 {"decodes_64_bit", Window.Decodes64},
                 {"enabled", Window.Enabled}};
  if (Window.Enabled) {
    Object["base"] = Window.Base;
    Object["limit"] = Window.Limit;
    Object["size"] = WindowSize(Window);
  }
  return Object;
}

// A bridge's bus numbers and both memory windows, as its type 1 header holds them.
json BridgeJson(const ConfigFunction &Bridge) {
  return {{"primary_bus", ReadConfig8(Bridge, PCI_BRIDGE_PRIMARY_BUS)},
          {"secondary_bus", ReadConfig8(Bridge, PCI_BRIDGE_SECONDARY_BUS)},
          {"subordinate_bus", ReadConfig8(Bridge, PCI_BRIDGE_SUBORDINATE_BUS)},
          {"memory_window", WindowJson(MemoryWindow(Bridge))},
          {"prefetchable_window", WindowJson(PrefetchableWindow(Bridge))}};
}

// The explanation of one BAR line.
json ExplanationJson(const BarExplanation &Explanation) {
  const ProposalFacts &Facts = Explanation.Facts;
  json Path = json::array();
  for (const PathBridge &Step : Facts.Path) {
    Path.push_back({{"bridge", FormatFunctionAddress(KeyOf(*Step.Bridge))},
                    {"ids", FormatFunctionIds(Step.Bridge->Config)},
                    {"secondary_bus", Step.Secondary},
                    {"subordinate_bus", Step.Subordinate},
                    {"window", WindowJson(Step.Window)},
                    {"holds_proposed", WindowHoldsAligned(Step.Window, Facts.Size)}});
  }
  json Sharers = json::array();
  for (const SharerFacts &Sharer : Explanation.Sharers) {
    json Entry = {{"function", FormatFunctionAddress(KeyOf(*Sharer.Sharer.Function))},
                  {"ids", FormatFunctionIds(Sharer.Sharer.Function->Config)},
                  {"bar", Sharer.Sharer.Bar},
                  {"address", Sharer.Sharer.Address},
                  {"size", nullptr}};
    if (Sharer.Size != 0) {
      Entry["size"] = Sharer.Size;
    }
    Sharers.push_back(std::move(Entry));
  }
  char RootBus[16];
  std::snprintf(RootBus, sizeof RootBus, "%04x:%02x", Facts.Domain, Facts.RootBus);
  json Object = {{"kind", BarKindToken(Facts.Placement.Kind)},
                 {"prefetchable", Facts.Placement.Prefetchable},
                 {"address", Facts.Placement.Address},
                 {"current_size", Explanation.CurrentSize},
                 {"proposed_size", Facts.Size},
                 {"root_bus", RootBus},
                 {"path", std::move(Path)},
                 {"sharers", std::move(Sharers)},
                 {"root_windows", nullptr},
                 {"verdict", VerdictToken(Explanation.Judged.Kind)},
                 {"verdict_bridge", nullptr},
                 {"aperture", ApertureToken(Explanation.Judged.Aperture)},
                 {"verdict_text", VerdictText(Explanation.Judged, Facts)}};
  if (Facts.RootWindowsKnown) {
    json Windows = json::array();
    for (const BusWindow &Window : Facts.RootWindows) {
      Windows.push_back({{"start", Window.Start}, {"end", Window.End}});
    }
    Object["root_windows"] = std::move(Windows);
  }
  const VerdictKind Kind = Explanation.Judged.Kind;
  if (Kind == VerdictKind::WindowTooSmall || Kind == VerdictKind::Window32Bit) {
    Object["verdict_bridge"] =
        FormatFunctionAddress(KeyOf(*Facts.Path[Explanation.Judged.Bridge].Bridge));
  }
  return Object;
}

// One reported BAR: its sizes line's mask, with the BAR line's indexes where one follows.
json BarJson(uint32_t Mask, const std::optional<uint32_t> &Bar,
             const std::optional<uint32_t> &Current, const std::optional<BarLine> &Line) {
  json Sizes = json::array();
  for (uint32_t Index = 0; Index < MASK_BITS; ++Index) {
    if ((Mask & (1U << Index)) != 0) {
      Sizes.push_back(SizeIndexBytes(Index));
    }
  }
  json Object = {{"bar", nullptr},
                 {"size_mask", Mask},
                 {"supported_sizes", std::move(Sizes)},
                 {"current_index", nullptr},
                 {"largest_index", BitLength32(Mask) - 1},
                 {"proposed_index", nullptr}};
  if (Bar) {
    Object["bar"] = *Bar;
  }
  if (Current) {
    Object["current_index"] = *Current;
  }
  if (Line) {
    Object["bar"] = Line->Bar;
    Object["current_index"] = Line->Current;
    Object["largest_index"] = Line->Highest;
    Object["proposed_index"] = Line->Proposed;
  }
  return Object;
}

// The value of an "RBarSizes N" line, or nothing.
std::optional<uint32_t> ParseSizesLine(std::string Line) {
  static const std::string Word = "RBarSizes ";
  if (!Line.empty() && Line.back() == '\n') {
    Line.pop_back();
  }
  if (Line.compare(0, Word.size(), Word) != 0 || Line.size() == Word.size()) {
    return std::nullopt;
  }
  uint64_t Value = 0;
  for (size_t Index = Word.size(); Index < Line.size(); ++Index) {
    if (Line[Index] < '0' || Line[Index] > '9' || Value > UINT32_MAX) {
      return std::nullopt;
    }
    Value = Value * 10 + static_cast<uint64_t>(Line[Index] - '0');
  }
  if (Value > UINT32_MAX) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(Value);
}

// The lines and BARs of one function's writes. The host-side decoding names the BAR of each
// sizes line when it agrees with the report on every mask; else only BAR lines name one.
void AddFunctionReport(const JsonReportInputs &Inputs, const PreviewFunction &Function,
                       const std::vector<std::string> &Lines, json &Object) {
  std::vector<uint32_t> Masks;
  for (const std::string &Line : Lines) {
    if (const std::optional<uint32_t> Mask = ParseSizesLine(Line)) {
      Masks.push_back(*Mask);
    }
  }
  const std::vector<RebarEntry> Entries = DecodeRebarEntries(Function.Config);
  bool Agree = Entries.size() == Masks.size();
  for (size_t Index = 0; Agree && Index < Masks.size(); ++Index) {
    Agree = Entries[Index].Mask == Masks[Index];
  }
  json Bars = json::array();
  size_t Sizes = 0;
  for (size_t Index = 0; Index < Lines.size(); ++Index) {
    const std::optional<uint32_t> Mask = ParseSizesLine(Lines[Index]);
    if (!Mask) {
      continue;
    }
    const std::optional<BarLine> Line =
        Index + 1 < Lines.size() ? ParseBarLine(Lines[Index + 1]) : std::nullopt;
    std::optional<uint32_t> Bar;
    std::optional<uint32_t> Current;
    if (Agree) {
      Bar = Entries[Sizes].Bar;
      Current = Entries[Sizes].Current;
    }
    ++Sizes;
    json Entry = BarJson(*Mask, Bar, Current, Line);
    if (Inputs.Explain != nullptr && Line) {
      Entry["explain"] = ExplanationJson(ExplainBar(*Inputs.Explain, Function, *Line));
    }
    Bars.push_back(std::move(Entry));
  }
  Object["bars"] = std::move(Bars);
}

// The report lines of each function, without line ends, and those that belong to none.
std::map<FunctionKey, std::vector<std::string>> LinesByFunction(const PreviewRun &Run) {
  std::map<FunctionKey, std::vector<std::string>> Lines;
  for (const ConsoleWrite &Write : Run.Writes) {
    if (Write.Origin) {
      std::string Text = Write.Text;
      if (!Text.empty() && Text.back() == '\n') {
        Text.pop_back();
      }
      Lines[*Write.Origin].push_back(Text);
    }
  }
  return Lines;
}

// The report lines as printed, split at line ends.
json ReportLines(const PreviewRun &Run) {
  std::string Text;
  for (const ConsoleWrite &Write : Run.Writes) {
    Text += Write.Text;
  }
  json Lines = json::array();
  size_t Start = 0;
  while (Start < Text.size()) {
    const size_t End = Text.find('\n', Start);
    Lines.push_back(Text.substr(Start, End == std::string::npos ? std::string::npos : End - Start));
    Start = End == std::string::npos ? Text.size() : End + 1;
  }
  return Lines;
}

} // namespace

std::string RenderJsonReport(const JsonReportInputs &Inputs) {
  const PreviewRun &Run = *Inputs.Run;
  const std::map<FunctionKey, std::vector<std::string>> Lines = LinesByFunction(Run);
  json Functions = json::array();
  size_t Scanned = 0;
  size_t Rebar = 0;
  for (const PreviewFunction &Function : *Inputs.Image) {
    const FunctionKey Key = KeyOf(Function);
    const auto Facts = Run.Facts.find(Key);
    const FunctionFacts Known = Facts != Run.Facts.end() ? Facts->second : FunctionFacts{};
    Scanned += Known.Scanned ? 1 : 0;
    Rebar += Known.Scanned && Known.Rebar ? 1 : 0;
    const auto Found = Lines.find(Key);
    const std::vector<std::string> Own =
        Found != Lines.end() ? Found->second : std::vector<std::string>{};
    json Object = {{"address", FormatFunctionAddress(Key)},
                   {"domain", Key.Domain},
                   {"bus", Key.Bus},
                   {"device", Key.Device},
                   {"function", Key.Function},
                   {"vendor_id", IdPart(Function.Config, true)},
                   {"device_id", IdPart(Function.Config, false)},
                   {"source", Function.Source.empty() ? json(nullptr) : json(Function.Source)},
                   {"bytes", Function.Config.Bytes.size()},
                   {"scanned", Known.Scanned},
                   {"express", Known.Express},
                   {"rebar", Known.Rebar},
                   {"lines", Own},
                   {"bridge", nullptr}};
    if (HeaderLayout(Function.Config) == PCI_HEADER_LAYOUT_BRIDGE) {
      Object["bridge"] = BridgeJson(Function.Config);
    }
    AddFunctionReport(Inputs, Function, Own, Object);
    Functions.push_back(std::move(Object));
  }
  json Short = json::array();
  for (const ShortFunction &Function : Inputs.Short) {
    Short.push_back({{"address", FormatFunctionAddress(Function.Key)},
                     {"ids", Function.Ids},
                     {"held", Function.Held},
                     {"needed", Function.Needed},
                     {"express", Function.Express},
                     {"source", Function.Source.empty() ? json(nullptr) : json(Function.Source)}});
  }
  const json Document = {{"schema", JSON_SCHEMA_VERSION},
                         {"report", ReportLines(Run)},
                         {"functions", std::move(Functions)},
                         {"summary",
                          {{"root_bridges", Run.RootBridges},
                           {"functions_scanned", Scanned},
                           {"with_rebar", Rebar},
                           {"configuration_reads", Run.DriverReads},
                           {"text", Inputs.Summary}}},
                         {"short_functions", std::move(Short)},
                         {"warnings", Inputs.Warnings},
                         {"entry_status", Run.EntryStatus},
                         {"violations", Run.Violations}};
  // Replacement characters for anything not UTF-8, so that dumping never fails.
  return Document.dump(JSON_INDENT, ' ', false, json::error_handler_t::replace) + "\n";
}
