// The verdict on a proposed BAR size: whether the BAR and every window between the root bus
// and the function can take it, and if not, the first thing that stands in the way. The rules
// and their order are those of docs/explain.md.
#pragma once

#include "verdict/Apertures.h"
#include "verdict/BarPlacement.h"
#include "verdict/BridgePath.h"
#include "verdict/TextBuffer.h"

enum class VerdictKind : UINT8 {
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

// What Linux's /proc/iomem says of a root bus's room.
enum class ApertureKnowledge : UINT8 {
  // No /proc/iomem ranges were read.
  Unknown,
  // /proc/iomem lists ranges for the bus, and one of them holds the size.
  Holds,
  // /proc/iomem lists ranges for the bus (possibly none), and none holds the size.
  TooSmall,
};

// /proc/iomem ranges kept for one root bus.
inline constexpr UINTN MAX_ROOT_WINDOWS = 16;

// What the verdict is reached on.
struct ProposalFacts {
  UINT32 Bar = 0;
  BarPlacement Placement;
  // The proposed and the current size in bytes (1 MB x 2^index).
  UINT64 Size = 0;
  UINT64 CurrentSize = 0;
  // Bridges from the root bus down, each with the window that would hold the BAR.
  BridgePath Path;
  // The root bus at the top of the path.
  UINT32 Domain = 0;
  UINT8 RootBus = 0;
  // The function is a live Linux machine's (not a dump's), so /proc/iomem would show the
  // ranges to root.
  bool OnMachine = false;
  // Whether the root bus's ranges were read from /proc/iomem, and those of the bus.
  bool RootWindowsKnown = false;
  AddressRange RootWindows[MAX_ROOT_WINDOWS] = {};
  UINTN RootWindowCount = 0;
  // What the firmware's facts say of the root bus (Answer NotGiven without facts).
  ApertureVerdict Firmware = {ApertureAnswer::NotGiven, nullptr, 0};
};

struct Verdict {
  VerdictKind Kind = VerdictKind::Fits;
  // The bridge of Path the verdict names (WindowTooSmall, Window32Bit).
  UINTN Bridge = 0;
  // For RootBus and PlacedBelow4G on a root bus.
  ApertureKnowledge Aperture = ApertureKnowledge::Unknown;
};

// Applies the rules in order; the first that matches is the verdict.
Verdict JudgeProposal(const ProposalFacts &Facts);

// True when a block of Size bytes cannot be placed below 4 GB: Size is 4 GB or more.
bool NeedsSixtyFourBit(UINT64 Size);

// Appends the verdict as one sentence, naming the bridge, the window's size, the proposed size
// and, on a root bus, what the firmware's apertures or /proc/iomem say.
void AppendVerdictText(TextBuffer &Out, const Verdict &Judged, const ProposalFacts &Facts);

// The verdict as a JSON token: "fits", "window-too-small", "window-32-bit", "bar-32-bit",
// "placed-below-4g", "root-bus", "unknown-bar".
const char *VerdictToken(VerdictKind Kind);

// The /proc/iomem knowledge as a JSON token: "unknown", "holds", "too-small".
const char *ApertureToken(ApertureKnowledge Knowledge);

// Appends "DDDD:BB:DD.F" of Function, as `lspci -D` prints it.
void AppendFunctionAddress(TextBuffer &Out, const FunctionHeader &Function);
