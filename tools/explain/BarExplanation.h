// The explanation of each proposal, as facts: for a BAR line of the report, the BAR's kind and
// placement, the bridges from the root bus down with the windows that would hold it, the
// functions sharing the innermost window, and the verdict.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/explain/EngineViews.h"
#include "tools/explain/WindowSharers.h"
#include "tools/source/IomemWindows.h"
#include "tools/source/LibpciImage.h"
#include "tools/source/PreviewImage.h"
#include "tools/survey/ReportLines.h"

// What the explanation is made from: the image, on a live machine Linux's BAR sizes and bus
// ranges, and from a dump the firmware's facts its "@" lines hold.
struct ExplainSources {
  const PreviewImage *Image = nullptr;
  // The engine's views of Image (MakeImageHeaders).
  ImageHeaders Headers;
  // Sizes Linux gives each BAR; null for dumps, set for this machine.
  const MachineBarSizes *Sizes = nullptr;
  // The "PCI Bus" ranges of /proc/iomem, when they could be read (as root, on this machine).
  bool BusWindowsKnown = false;
  std::vector<BusWindow> BusWindows;
  // The firmware's facts and their apertures; null when none were given.
  const FirmwareFacts *Firmware = nullptr;
  const ApertureModel *Apertures = nullptr;
};

// A BAR in the window the explained BAR would grow in, with its size where known.
struct SharerFacts {
  WindowSharer Sharer;
  // Linux's size on a live machine, else the current size of a Resizable BAR; 0 when unknown.
  uint64_t Size = 0;
};

struct BarExplanation {
  const PreviewFunction *Function = nullptr;
  FunctionKey Key;
  BarLine Line;
  ProposalFacts Facts;
  // The current size from the Resizable BAR control register, as the BAR line shows it.
  uint64_t CurrentSize = 0;
  Verdict Judged;
  // The function of each bridge of Facts.Path, in its order.
  std::vector<const PreviewFunction *> PathFunctions;
  // Other functions' BARs in the innermost window of the path.
  std::vector<SharerFacts> Sharers;
};

// Explains the BAR of Line, a BAR line of Function's report.
BarExplanation ExplainBar(const ExplainSources &Sources, const PreviewFunction &Function,
                          const BarLine &Line);

// The function of Image at Key, or null.
const PreviewFunction *FindFunction(const PreviewImage &Image, const FunctionKey &Key);
