// Explanations gathered from the image for each BAR line: placement, path, sharers and verdict.
#include "tools/explain/BarExplanation.h"

#include <algorithm>

#include "tools/survey/RebarEntries.h"

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
  for (const RebarEntry &Entry : DecodeRebarEntries(Function.Config)) {
    if (Entry.Bar == Bar) {
      return SizeIndexBytes(Entry.Current);
    }
  }
  return 0;
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
  Facts.Bar = Line.Bar;
  Facts.Placement = DecodeBar(Function.Config, Line.Bar);
  Facts.Size = SizeIndexBytes(Line.Proposed);
  if (IsMemoryBar(Facts.Placement.Kind)) {
    Facts.Path = FindBridgePath(*Sources.Image, Explanation.Key, Facts.Placement.Prefetchable);
  }
  Facts.Domain = Explanation.Key.Domain;
  Facts.RootBus = RootBusOf(Facts.Path, Explanation.Key);
  Facts.OnMachine = Sources.Sizes != nullptr;
  Facts.RootWindowsKnown = Sources.BusWindowsKnown;
  for (const BusWindow &Window : Sources.BusWindows) {
    if (Window.Domain == Facts.Domain && Window.Bus == Facts.RootBus) {
      Facts.RootWindows.push_back(Window);
    }
  }
  Explanation.Judged = JudgeProposal(Facts);
  if (!Facts.Path.empty()) {
    for (const WindowSharer &Sharer :
         FindWindowSharers(*Sources.Image, Explanation.Key, Facts.Bar, Facts.Path.back())) {
      Explanation.Sharers.push_back({Sharer, KnownBarSize(Sources, *Sharer.Function, Sharer.Bar)});
    }
  }
  return Explanation;
}
