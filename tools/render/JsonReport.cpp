// The JSON document, built with nlohmann-json so that every string is escaped and every
// document is well formed, whatever the driver printed.
#include "tools/render/JsonReport.h"

#include <nlohmann/json.hpp>

#include "driver/RebarRegisters.h"
#include "tools/render/FirmwareText.h"
#include "tools/render/TextReport.h"
#include "tools/source/ConfigRegisters.h"
#include "tools/survey/RebarEntries.h"
#include "tools/survey/SurveyFacts.h"
#include "verdict/ReportNotes.h"

namespace {

using json = nlohmann::ordered_json;

// Spaces per level of the printed document.
constexpr int JSON_INDENT = 2;
// Size indexes a mask can hold (bits 0 to 31).
constexpr uint32_t MASK_BITS = 32;

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
          {"memory_window", WindowJson(MemoryWindow(HeaderView(Bridge, 0)))},
          {"prefetchable_window", WindowJson(PrefetchableWindow(HeaderView(Bridge, 0)))}};
}

// The explanation of one BAR line.
json ExplanationJson(const BarExplanation &Explanation) {
  const ProposalFacts &Facts = Explanation.Facts;
  json Path = json::array();
  for (UINTN Index = 0; Index < Facts.Path.Count; ++Index) {
    const PathBridge &Step = Facts.Path.Steps[Index];
    const PreviewFunction &Bridge = *Explanation.PathFunctions[Index];
    Path.push_back({{"bridge", FormatFunctionAddress(KeyOf(Bridge))},
                    {"ids", FormatFunctionIds(Bridge.Config)},
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
  if (Facts.Firmware.Answer != ApertureAnswer::NotGiven) {
    Object["firmware_aperture"] = FirmwareAnswerJson(Explanation);
  }
  if (Facts.RootWindowsKnown) {
    json Windows = json::array();
    for (UINTN Index = 0; Index < Facts.RootWindowCount; ++Index) {
      Windows.push_back(
          {{"start", Facts.RootWindows[Index].Base}, {"end", Facts.RootWindows[Index].Limit}});
    }
    Object["root_windows"] = std::move(Windows);
  }
  const VerdictKind Kind = Explanation.Judged.Kind;
  if (Kind == VerdictKind::WindowTooSmall || Kind == VerdictKind::Window32Bit) {
    Object["verdict_bridge"] =
        FormatFunctionAddress(KeyOf(*Explanation.PathFunctions[Explanation.Judged.Bridge]));
  }
  return Object;
}

// One reported BAR: its sizes line's mask, with the BAR line's indexes where one follows, and
// the explanation of the proposal when wanted.
json BarJson(const ReportInputs &Inputs, const PreviewFunction &Function, const ReportedBar &Bar) {
  json Sizes = json::array();
  for (uint32_t Index = 0; Index < MASK_BITS; ++Index) {
    if ((Bar.Mask & (1U << Index)) != 0) {
      Sizes.push_back(SizeIndexBytes(Index));
    }
  }
  json Object = {{"bar", Bar.Bar ? json(*Bar.Bar) : json(nullptr)},
                 {"size_mask", Bar.Mask},
                 {"supported_sizes", std::move(Sizes)},
                 {"current_index", Bar.Current ? json(*Bar.Current) : json(nullptr)},
                 {"largest_index", Bar.Largest},
                 {"proposed_index", Bar.Proposal ? json(Bar.Proposal->Proposed) : json(nullptr)}};
  // The driver's deliberate differences from the capability: its sizes as advertised, before
  // the device quirks, and the sizes of 1 TB and more the report leaves out.
  Object["advertised_mask"] = nullptr;
  Object["left_out_sizes"] = json::array();
  for (const RebarEntry &Entry : DecodeRebarEntries(Function.Config)) {
    if (Bar.Bar && Entry.Bar == *Bar.Bar) {
      Object["advertised_mask"] =
          (Entry.Capability & REBAR_CAPABILITY_SIZES_MASK) >> REBAR_CAPABILITY_SIZES_SHIFT;
      const uint32_t LeftOut = SizesLeftOut(Entry.Capability);
      for (uint32_t Index = 0; Index < MASK_BITS; ++Index) {
        if ((LeftOut & (1U << Index)) != 0) {
          Object["left_out_sizes"].push_back(SizeIndexBytes(Index));
        }
      }
      break;
    }
  }
  if (Inputs.Explain != nullptr && Bar.Proposal) {
    Object["explain"] = ExplanationJson(ExplainBar(*Inputs.Explain, Function, *Bar.Proposal));
  }
  return Object;
}

} // namespace

std::string RenderJsonReport(const ReportInputs &Inputs) {
  const PreviewRun &Run = *Inputs.Run;
  const SurveyFacts &Survey = *Inputs.Survey;
  json Functions = json::array();
  for (const ReportedFunction &Reported : Survey.Functions) {
    const PreviewFunction &Function = *Reported.Function;
    const FunctionKey &Key = Reported.Key;
    json Object = {
        {"address", FormatFunctionAddress(Key)},
        {"domain", Key.Domain},
        {"bus", Key.Bus},
        {"device", Key.Device},
        {"function", Key.Function},
        {"vendor_id", FormatId(Function.Config, PciId::Vendor)},
        {"device_id", FormatId(Function.Config, PciId::Device)},
        {"source", Function.Source.empty() ? json(nullptr) : json(Function.Source)},
        {"bytes", Function.Config.Bytes.size()},
        {"scanned", Reported.Known.Scanned},
        {"express", Reported.Known.Express},
        {"rebar", Reported.Known.Rebar},
        {"lines", Reported.Lines},
        {"skipped_after_single_function_0", SkippedAfterSingleFunction(*Inputs.Image, Function)},
        {"bridge", nullptr}};
    if (HeaderLayout(Function.Config) == PCI_HEADER_LAYOUT_BRIDGE) {
      Object["bridge"] = BridgeJson(Function.Config);
    }
    json Bars = json::array();
    for (const ReportedBar &Bar : Reported.Bars) {
      Bars.push_back(BarJson(Inputs, Function, Bar));
    }
    Object["bars"] = std::move(Bars);
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
  json Document = {{"schema", JSON_SCHEMA_VERSION},
                   {"report", ReportTextLines(Run)},
                   {"functions", std::move(Functions)},
                   {"summary",
                    {{"root_bridges", Survey.RootBridges},
                     {"functions_scanned", Survey.FunctionsScanned},
                     {"with_rebar", Survey.FunctionsWithRebar},
                     {"configuration_reads", Survey.ConfigurationReads},
                     {"text", Inputs.Summary}}},
                   {"short_functions", std::move(Short)},
                   {"warnings", Inputs.Warnings},
                   {"entry_status", Run.EntryStatus},
                   {"violations", Run.Violations}};
  if (Inputs.Explain != nullptr && Inputs.Explain->Firmware != nullptr) {
    Document["firmware"] = FirmwareJson(*Inputs.Explain->Firmware, *Inputs.Explain->Apertures);
  }
  // Replacement characters for anything not UTF-8, so that dumping never fails.
  return Document.dump(JSON_INDENT, ' ', false, json::error_handler_t::replace) + "\n";
}
