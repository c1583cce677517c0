// The verdict on a proposed BAR size: whether the BAR and every window between the root bus
// and the function can take it, and if not, the first thing that stands in the way. The rules
// and their order are those of docs/explain.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/explain/BarPlacement.h"
#include "tools/explain/BridgePath.h"
#include "tools/source/IomemWindows.h"

enum class VerdictKind {
  // Every window on the path holds a block of the proposed size aligned to it.
  Fits,
  // A bridge's window is disabled or holds no such block.
  WindowTooSmall,
  // A bridge's window decodes 32-bit addresses only, while the size needs 64-bit placement.
  Window32Bit,
  // The BAR is a 32-bit BAR and the size is 4 GB or more.
  Bar32Bit,
  // The BAR sits below 4 GB, where the size does not fit, and nothing above is known to hold it.
  PlacedBelow4G,
  // No bridge above: the host bridge's aperture decides.
  RootBus,
  // The BAR line's index names no memory BAR.
  UnknownBar,
};

// What is known of a root bus's aperture.
enum class ApertureKnowledge {
  // Configuration space does not show it, and no /proc/iomem ranges were read.
  Unknown,
  // /proc/iomem lists ranges for the bus, and one of them holds the size.
  Holds,
  // /proc/iomem lists ranges for the bus (possibly none), and none holds the size.
  TooSmall,
};

// What the verdict is reached on.
struct ProposalFacts {
  uint32_t Bar = 0;
  BarPlacement Placement;
  // The proposed size in bytes (1 MB x 2^index).
  uint64_t Size = 0;
  // Bridges from the root bus down, each with the window that would hold the BAR.
  std::vector<PathBridge> Path;
  // The root bus at the top of the path.
  uint32_t Domain = 0;
  uint8_t RootBus = 0;
  // The function is this machine's (not a dump's), so /proc/iomem would show the ranges to root.
  bool OnMachine = false;
  // Whether the root bus's ranges were read from /proc/iomem, and those of the bus.
  bool RootWindowsKnown = false;
  std::vector<BusWindow> RootWindows;
};

struct Verdict {
  VerdictKind Kind = VerdictKind::Fits;
  // The bridge of Path the verdict names (WindowTooSmall, Window32Bit).
  size_t Bridge = 0;
  // For RootBus and PlacedBelow4G on a root bus.
  ApertureKnowledge Aperture = ApertureKnowledge::Unknown;
};

// Applies the rules in order; the first that matches is the verdict.
Verdict JudgeProposal(const ProposalFacts &Facts);

// True when a block of Size bytes cannot be placed below 4 GB: Size is 4 GB or more.
bool NeedsSixtyFourBit(uint64_t Size);

// The verdict as one sentence, naming the bridge, the window's size and the proposed size.
std::string VerdictText(const Verdict &Judged, const ProposalFacts &Facts);

// The verdict as a JSON token: "fits", "window-too-small", "window-32-bit", "bar-32-bit",
// "placed-below-4g", "root-bus", "unknown-bar".
const char *VerdictToken(VerdictKind Kind);

// The aperture knowledge as a JSON token: "unknown", "holds", "too-small".
const char *ApertureToken(ApertureKnowledge Knowledge);

// A size in bytes in words: "256 MB", "32 GB", "16 KB"; exact powers of two of 1 KB and more
// in their unit, anything else in bytes.
std::string ByteSizeText(uint64_t Size);
