// Explanations gathered from the image for each BAR line: placement, path, sharers and verdict.
#include "tools/explain/BarExplanation.h"

#include <algorithm>

#include "tools/survey/RebarEntries.h"
#include "verdict/VerdictLine.h"

namespace {

// The size Linux or the Resizable BAR capability gives BAR Bar of Function; 0 when unknown.
uint64_t KnownBarSize(const ExplainSources &Sources, const PreviewFunction &Function,
                      uint32_t Bar) {
  if (Sources.Sizes != nullptr) {
    const auto Found = Sources.Sizes->find(KeyOf(Function));
    if (Found != Sources.Sizes->end() && Bar < Found->second.size() && Found->second[Bar] != 0) {
      return Found->second[Bar];
    }
  }
  const std::vector<RebarEntry> Entries = DecodeRebarEntries(Function.Config);
  const auto Entry = std::find_if(Entries.begin(), Entries.end(),
                                  [&](const RebarEntry &Each) { return Each.Bar == Bar; });
  return Entry == Entries.end() ? 0 : SizeIndexBytes(Entry->Current);
}

} // namespace

const PreviewFunction *FindFunction(const PreviewImage &Image, const FunctionKey &Key) {
  const auto Found = std::find_if(Image.begin(), Image.end(), [&](const PreviewFunction &Function) {
    return KeyOf(Function) == Key;
  });
  return Found == Image.end() ? nullptr : &*Found;
}

BarExplanation ExplainBar(const ExplainSources &Sources, const PreviewFunction &Function,
                          const BarLine &Line) {
  BarExplanation Explanation;
  Explanation.Function = &Function;
  Explanation.Key = KeyOf(Function);
  Explanation.Line = Line;
  Explanation.CurrentSize = SizeIndexBytes(Line.Current);
  ProposalFacts &Facts = Explanation.Facts;
  const UINT32 Numbers[BAR_LINE_NUMBERS] = {Line.Bar, Line.Current, Line.Highest, Line.Proposed};
  GatherProposalFacts(AsFunctionList(Sources.Headers), HeaderOf(Sources.Headers, Function), Numbers,
                      {Sources.Firmware, Sources.Apertures}, Facts);
  Facts.OnMachine = Sources.Sizes != nullptr;
  Facts.RootWindowsKnown = Sources.BusWindowsKnown;
  for (const BusWindow &Window : Sources.BusWindows) {
    if (Window.Domain == Facts.Domain && Window.Bus == Facts.RootBus &&
        Facts.RootWindowCount < MAX_ROOT_WINDOWS) {
      Facts.RootWindows[Facts.RootWindowCount++] = {Window.Start, Window.End};
    }
  }
  Explanation.Judged = JudgeProposal(Facts);
  for (UINTN Step = 0; Step < Facts.Path.Count; ++Step) {
    Explanation.PathFunctions.push_back(
        &FunctionOf(Sources.Headers, Facts.Path.Steps[Step].Bridge));
  }
  if (Facts.Path.Count != 0) {
    for (const WindowSharer &Sharer : FindWindowSharers(*Sources.Image, Explanation.Key, Facts.Bar,
                                                        Facts.Path.Steps[Facts.Path.Count - 1])) {
      Explanation.Sharers.push_back({Sharer, KnownBarSize(Sources, *Sharer.Function, Sharer.Bar)});
    }
  }
  return Explanation;
}
