// The facts of the survey: each function's report lines read back into BARs. The report names a
// BAR only in its BAR line, so the BAR of a sizes line without one comes from the host-side
// decoding of the capability, walked as the driver walks it.
#include "tools/survey/SurveyFacts.h"

#include <utility>

#include "driver/RebarEvaluation.h"
#include "tools/survey/RebarEntries.h"

namespace {

// The BARs of one function's report lines.
std::vector<ReportedBar> ReportedBars(const PreviewFunction &Function,
                                      const std::vector<std::string> &Lines) {
  // The sizes lines: where each stands, and its mask.
  std::vector<std::pair<size_t, uint32_t>> Sizes;
  for (size_t Index = 0; Index < Lines.size(); ++Index) {
    if (const std::optional<uint32_t> Mask = ParseSizesLine(Lines[Index])) {
      Sizes.emplace_back(Index, *Mask);
    }
  }
  const std::vector<RebarEntry> Entries = DecodeRebarEntries(Function.Config);
  bool Agree = Entries.size() == Sizes.size();
  for (size_t Index = 0; Agree && Index < Sizes.size(); ++Index) {
    Agree = Entries[Index].Mask == Sizes[Index].second;
  }
  std::vector<ReportedBar> Bars;
  for (const auto &[Line, Mask] : Sizes) {
    ReportedBar Bar;
    Bar.Mask = Mask;
    Bar.Largest = static_cast<uint32_t>(BitLength32(Mask) - 1);
    if (Agree) {
      Bar.Bar = Entries[Bars.size()].Bar;
      Bar.Current = Entries[Bars.size()].Current;
    }
    Bar.Proposal = Line + 1 < Lines.size() ? ParseBarLine(Lines[Line + 1]) : std::nullopt;
    if (Bar.Proposal) {
      Bar.Bar = Bar.Proposal->Bar;
      Bar.Current = Bar.Proposal->Current;
      Bar.Largest = Bar.Proposal->Highest;
    }
    Bars.push_back(Bar);
  }
  return Bars;
}

} // namespace

SurveyFacts GatherSurveyFacts(const PreviewRun &Run, const PreviewImage &Image) {
  SurveyFacts Survey;
  Survey.RootBridges = Run.RootBridges;
  Survey.ConfigurationReads = Run.DriverReads;
  std::map<FunctionKey, std::vector<std::string>> Lines = LinesByFunction(Run);
  for (const PreviewFunction &Function : Image) {
    ReportedFunction Reported;
    Reported.Function = &Function;
    Reported.Key = KeyOf(Function);
    const auto Facts = Run.Facts.find(Reported.Key);
    if (Facts != Run.Facts.end()) {
      Reported.Known = Facts->second;
    }
    Survey.FunctionsScanned += Reported.Known.Scanned ? 1 : 0;
    Survey.FunctionsWithRebar += Reported.Known.Scanned && Reported.Known.Rebar ? 1 : 0;
    const auto Found = Lines.find(Reported.Key);
    if (Found != Lines.end()) {
      Reported.Lines = std::move(Found->second);
    }
    Reported.Bars = ReportedBars(Function, Reported.Lines);
    Survey.Functions.push_back(std::move(Reported));
  }
  return Survey;
}
