// The verdict rules, checked in a fixed order from what the device itself cannot do to what the
// firmware's placement leaves open, and the sentences that name the result.
#include "tools/explain/ExplainVerdict.h"

#include <array>
#include <cstdio>

#include "tools/source/ConfigRegisters.h"

namespace {

// Units of ByteSizeText, each 1024 times the one before.
constexpr std::array<const char *, 6> BYTE_UNITS = {"KB", "MB", "GB", "TB", "PB", "EB"};
constexpr uint64_t UNIT_STEP = 1024;

// True when a window of the path forwards 32-bit addresses only.
bool Is32BitOnly(const BridgeWindow &Window) {
  return !Window.Decodes64;
}

// The index of the first bridge of Path that Fails, or Path.size().
template <typename Predicate>
size_t FirstBridge(const std::vector<PathBridge> &Path, Predicate Fails) {
  for (size_t Index = 0; Index < Path.size(); ++Index) {
    if (Fails(Path[Index].Window)) {
      return Index;
    }
  }
  return Path.size();
}

// What /proc/iomem says of the root bus's room for Size.
ApertureKnowledge RootAperture(const ProposalFacts &Facts) {
  if (!Facts.RootWindowsKnown) {
    return ApertureKnowledge::Unknown;
  }
  for (const BusWindow &Range : Facts.RootWindows) {
    BridgeWindow Window;
    Window.Enabled = Range.Start <= Range.End;
    Window.Base = Range.Start;
    Window.Limit = Range.End;
    if (WindowHoldsAligned(Window, Facts.Size)) {
      return ApertureKnowledge::Holds;
    }
  }
  return ApertureKnowledge::TooSmall;
}

// "the prefetchable window of bridge 0000:00:01.0".
std::string WindowName(const PathBridge &Bridge) {
  return std::string(Bridge.Window.Prefetchable ? "the prefetchable memory window"
                                                : "the memory window") +
         " of bridge " + FormatFunctionAddress(KeyOf(*Bridge.Bridge));
}

// "root bus 0000:00".
std::string RootBusName(const ProposalFacts &Facts) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "root bus %04x:%02x", Facts.Domain, Facts.RootBus);
  return Text;
}

// "0xe0000000".
std::string HexAddress(uint64_t Address) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%llx", static_cast<unsigned long long>(Address));
  return Text;
}

} // namespace

bool NeedsSixtyFourBit(uint64_t Size) {
  return Size >= FOUR_GB;
}

Verdict JudgeProposal(const ProposalFacts &Facts) {
  Verdict Judged;
  const BarKind Kind = Facts.Placement.Kind;
  const bool Wide = NeedsSixtyFourBit(Facts.Size);
  // 1. Only a memory BAR can be explained.
  if (!IsMemoryBar(Kind)) {
    Judged.Kind = VerdictKind::UnknownBar;
    return Judged;
  }
  // 2. A 32-bit BAR holds no address of 4 GB or more.
  if (Kind != BarKind::Memory64 && Wide) {
    Judged.Kind = VerdictKind::Bar32Bit;
    return Judged;
  }
  // 3. Nor does a window that decodes 32-bit addresses only.
  const size_t Narrow = Wide ? FirstBridge(Facts.Path, Is32BitOnly) : Facts.Path.size();
  if (Narrow < Facts.Path.size()) {
    Judged.Kind = VerdictKind::Window32Bit;
    Judged.Bridge = Narrow;
    return Judged;
  }
  const size_t TooSmall = FirstBridge(Facts.Path, [&](const BridgeWindow &Window) {
    return !WindowHoldsAligned(Window, Facts.Size);
  });
  Judged.Aperture = Facts.Path.empty() ? RootAperture(Facts) : ApertureKnowledge::Unknown;
  // 4. Placed low and nothing above known to hold the size: the placement is what stands in
  // the way.
  const bool RoomAbove = Facts.Path.empty() ? Judged.Aperture == ApertureKnowledge::Holds
                                            : TooSmall == Facts.Path.size();
  if (Wide && Facts.Placement.Address < FOUR_GB && !RoomAbove) {
    Judged.Kind = VerdictKind::PlacedBelow4G;
    return Judged;
  }
  // 5. A window on the path too small (or disabled), outermost first.
  if (TooSmall < Facts.Path.size()) {
    Judged.Kind = VerdictKind::WindowTooSmall;
    Judged.Bridge = TooSmall;
    return Judged;
  }
  // 6. No bridge above: the host bridge decides.
  Judged.Kind = Facts.Path.empty() ? VerdictKind::RootBus : VerdictKind::Fits;
  return Judged;
}

std::string VerdictText(const Verdict &Judged, const ProposalFacts &Facts) {
  const std::string Size = ByteSizeText(Facts.Size);
  const std::string Bar = "BAR " + std::to_string(Facts.Bar);
  switch (Judged.Kind) {
  case VerdictKind::Fits:
    return "fits: every window on the path holds a " + Size + "-aligned block of " + Size;
  case VerdictKind::WindowTooSmall: {
    const PathBridge &Bridge = Facts.Path[Judged.Bridge];
    if (!Bridge.Window.Enabled) {
      return WindowName(Bridge) + " is disabled, so it holds none of the " + Size + " proposed";
    }
    return WindowName(Bridge) + " is too small: " + ByteSizeText(WindowSize(Bridge.Window)) +
           ", holding no " + Size + "-aligned block of " + Size;
  }
  case VerdictKind::Window32Bit:
    return WindowName(Facts.Path[Judged.Bridge]) + " decodes 32-bit addresses only, while " + Size +
           " needs 64-bit placement";
  case VerdictKind::Bar32Bit:
    return Bar + " is a 32-bit BAR, which cannot hold 4 GB or more (" + Size + " proposed)";
  case VerdictKind::PlacedBelow4G:
    return Bar + " sits below 4 GB (at " + HexAddress(Facts.Placement.Address) + ") and " + Size +
           " would not fit there: firmware placed it low; a larger size needs 64-bit placement, "
           "often called \"Above 4G decoding\" in setup menus";
  case VerdictKind::RootBus:
    break;
  case VerdictKind::UnknownBar:
    return Bar + " cannot be explained: its register holds no memory BAR (" +
           BarKindText(Facts.Placement, Facts.Bar) + ")";
  }
  const std::string Root = "on " + RootBusName(Facts) +
                           ", where the host bridge's aperture decides, which "
                           "configuration space does not show";
  switch (Judged.Aperture) {
  case ApertureKnowledge::Holds:
    return Root + "; a range Linux gives the bus in /proc/iomem holds a " + Size +
           "-aligned block of " + Size;
  case ApertureKnowledge::TooSmall:
    return Root + "; no range Linux gives the bus in /proc/iomem holds a " + Size +
           "-aligned block of " + Size;
  case ApertureKnowledge::Unknown:
    break;
  }
  return Root + "; whether " + Size + " fits is unknown" +
         (Facts.OnMachine ? " (Linux shows the bus's ranges in /proc/iomem to root only)" : "");
}

const char *VerdictToken(VerdictKind Kind) {
  switch (Kind) {
  case VerdictKind::Fits:
    return "fits";
  case VerdictKind::WindowTooSmall:
    return "window-too-small";
  case VerdictKind::Window32Bit:
    return "window-32-bit";
  case VerdictKind::Bar32Bit:
    return "bar-32-bit";
  case VerdictKind::PlacedBelow4G:
    return "placed-below-4g";
  case VerdictKind::RootBus:
    return "root-bus";
  case VerdictKind::UnknownBar:
    break;
  }
  return "unknown-bar";
}

const char *ApertureToken(ApertureKnowledge Knowledge) {
  switch (Knowledge) {
  case ApertureKnowledge::Holds:
    return "holds";
  case ApertureKnowledge::TooSmall:
    return "too-small";
  case ApertureKnowledge::Unknown:
    break;
  }
  return "unknown";
}

std::string ByteSizeText(uint64_t Size) {
  if (Size == UINT64_MAX) {
    return "16 EB";
  }
  size_t Unit = 0;
  uint64_t Count = Size;
  if (Count == 0 || Count % UNIT_STEP != 0) {
    return std::to_string(Size) + " bytes";
  }
  Count /= UNIT_STEP;
  while (Unit + 1 < BYTE_UNITS.size() && Count % UNIT_STEP == 0) {
    Count /= UNIT_STEP;
    ++Unit;
  }
  return std::to_string(Count) + " " + BYTE_UNITS[Unit];
}
