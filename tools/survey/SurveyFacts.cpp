// The facts of the survey: each function's report lines read back into BARs. The report names a
// BAR only in its BAR line, so the BAR of a sizes line without one comes from the host-side
// decoding of the capability, walked as the driver walks it.
#include "tools/survey/SurveyFacts.h"

#include "driver/RebarEvaluation.h"
#include "tools/survey/RebarEntries.h"

namespace {

// The BARs of one function's report lines.
std::vector<ReportedBar> ReportedBars(const PreviewFunction &Function,
                                      const std::vector<std::string> &Lines) {
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
  std::vector<ReportedBar> Bars;
  for (size_t Index = 0; Index < Lines.size(); ++Index) {
    const std::optional<uint32_t> Mask = ParseSizesLine(Lines[Index]);
    if (!Mask) {
      continue;
    }
    ReportedBar Bar;
    Bar.Mask = *Mask;
    Bar.Largest = static_cast<uint32_t>(BitLength32(*Mask) - 1);
    if (Agree) {
      Bar.Bar = Entries[Bars.size()].Bar;
      Bar.Current = Entries[Bars.size()].Current;
    }
    Bar.Proposal = Index + 1 < Lines.size() ? ParseBarLine(Lines[Index + 1]) : std::nullopt;
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
