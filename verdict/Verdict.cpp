// The verdict rules, checked in a fixed order from what the device itself cannot do to what the
// firmware's placement leaves open, and the sentences that name the result.
#include "verdict/Verdict.h"

namespace {

// Hex digits of a segment, a bus, a device and a function in a function's address.
constexpr UINTN SEGMENT_DIGITS = 4;
constexpr UINTN BUS_DIGITS = 2;
constexpr UINTN DEVICE_DIGITS = 2;
constexpr UINTN FUNCTION_DIGITS = 1;

// True when a window of the path forwards 32-bit addresses only.
bool Is32BitOnly(const BridgeWindow &Window, UINT64) {
  return !Window.Decodes64;
}

// True when a window of the path holds no Size-aligned block of Size.
bool HoldsNone(const BridgeWindow &Window, UINT64 Size) {
  return !WindowHoldsAligned(Window, Size);
}

// The index of the first bridge of Path whose window Fails for Size, or Path.Count.
UINTN FirstBridge(const BridgePath &Path, bool (*Fails)(const BridgeWindow &, UINT64),
                  UINT64 Size) {
  for (UINTN Index = 0; Index < Path.Count; ++Index) {
    if (Fails(Path.Steps[Index].Window, Size)) {
      return Index;
    }
  }
  return Path.Count;
}

// What /proc/iomem says of the root bus's room for Size.
ApertureKnowledge RootAperture(const ProposalFacts &Facts) {
  if (!Facts.RootWindowsKnown) {
    return ApertureKnowledge::Unknown;
  }
  for (UINTN Index = 0; Index < Facts.RootWindowCount; ++Index) {
    BridgeWindow Window;
    Window.Enabled = Facts.RootWindows[Index].Base <= Facts.RootWindows[Index].Limit;
    Window.Base = Facts.RootWindows[Index].Base;
    Window.Limit = Facts.RootWindows[Index].Limit;
    if (WindowHoldsAligned(Window, Facts.Size)) {
      return ApertureKnowledge::Holds;
    }
  }
  return ApertureKnowledge::TooSmall;
}

// "the prefetchable memory window of bridge 0000:00:01.0".
void AppendWindowName(TextBuffer &Out, const PathBridge &Bridge) {
  AppendText(Out,
             Bridge.Window.Prefetchable ? "the prefetchable memory window" : "the memory window");
  AppendText(Out, " of bridge ");
  AppendFunctionAddress(Out, *Bridge.Bridge);
}

// "S-aligned block of S".
void AppendAlignedBlock(TextBuffer &Out, UINT64 Size) {
  AppendByteSize(Out, Size);
  AppendText(Out, "-aligned block of ");
  AppendByteSize(Out, Size);
}

// True when the firmware's facts speak of the root bus.
bool FirmwareGiven(const ProposalFacts &Facts) {
  return Facts.Firmware.Answer != ApertureAnswer::NotGiven;
}

// The root-bus sentence: what decides, then what /proc/iomem or the firmware says of it.
void AppendRootBus(TextBuffer &Out, const Verdict &Judged, const ProposalFacts &Facts) {
  AppendText(Out, "on root bus ");
  AppendHex(Out, Facts.Domain, SEGMENT_DIGITS);
  AppendText(Out, ":");
  AppendHex(Out, Facts.RootBus, BUS_DIGITS);
  AppendText(Out, ", where the host bridge's aperture decides");
  if (FirmwareGiven(Facts) && !Facts.RootWindowsKnown) {
    AppendText(Out, "; ");
    AppendApertureAnswer(Out, Facts.Firmware, Facts.Size);
    return;
  }
  AppendText(Out, ", which configuration space does not show");
  switch (Judged.Aperture) {
  case ApertureKnowledge::Holds:
    AppendText(Out, "; a range Linux gives the bus in /proc/iomem holds a ");
    AppendAlignedBlock(Out, Facts.Size);
    return;
  case ApertureKnowledge::TooSmall:
    AppendText(Out, "; no range Linux gives the bus in /proc/iomem holds a ");
    AppendAlignedBlock(Out, Facts.Size);
    return;
  case ApertureKnowledge::Unknown:
    break;
  }
  AppendText(Out, "; whether ");
  AppendByteSize(Out, Facts.Size);
  AppendText(Out, " fits is unknown");
  if (Facts.OnMachine) {
    AppendText(Out, " (Linux shows the bus's ranges in /proc/iomem to root only)");
  }
}

} // namespace

bool NeedsSixtyFourBit(UINT64 Size) {
  return Size >= FOUR_GB;
}

Verdict JudgeProposal(const ProposalFacts &Facts) {
  Verdict Judged;
  const BarKind Kind = Facts.Placement.Kind;
  const bool Wide = NeedsSixtyFourBit(Facts.Size);
  const BridgePath &Path = Facts.Path;
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
  const UINTN Narrow = Wide ? FirstBridge(Path, Is32BitOnly, Facts.Size) : Path.Count;
  if (Narrow < Path.Count) {
    Judged.Kind = VerdictKind::Window32Bit;
    Judged.Bridge = Narrow;
    return Judged;
  }
  const UINTN TooSmall = FirstBridge(Path, HoldsNone, Facts.Size);
  Judged.Aperture = Path.Count == 0 ? RootAperture(Facts) : ApertureKnowledge::Unknown;
  // 4. Placed low and nothing above known to hold the size: the placement is what stands in
  // the way. On a root bus, /proc/iomem or the firmware's apertures may know of room.
  const bool RoomAbove = Path.Count == 0 ? Judged.Aperture == ApertureKnowledge::Holds ||
                                               Facts.Firmware.Answer == ApertureAnswer::Holds
                                         : TooSmall == Path.Count;
  if (Wide && Facts.Placement.Address < FOUR_GB && !RoomAbove) {
    Judged.Kind = VerdictKind::PlacedBelow4G;
    return Judged;
  }
  // 5. A window on the path too small (or disabled), outermost first.
  if (TooSmall < Path.Count) {
    Judged.Kind = VerdictKind::WindowTooSmall;
    Judged.Bridge = TooSmall;
    return Judged;
  }
  // 6. No bridge above: the host bridge decides.
  Judged.Kind = Path.Count == 0 ? VerdictKind::RootBus : VerdictKind::Fits;
  return Judged;
}

void AppendVerdictText(TextBuffer &Out, const Verdict &Judged, const ProposalFacts &Facts) {
  switch (Judged.Kind) {
  case VerdictKind::Fits:
    AppendText(Out, "fits: every window on the path holds a ");
    AppendAlignedBlock(Out, Facts.Size);
    return;
  case VerdictKind::WindowTooSmall: {
    const PathBridge &Bridge = Facts.Path.Steps[Judged.Bridge];
    AppendWindowName(Out, Bridge);
    if (!Bridge.Window.Enabled) {
      AppendText(Out, " is disabled, so it holds none of the ");
      AppendByteSize(Out, Facts.Size);
      AppendText(Out, " proposed");
      return;
    }
    AppendText(Out, " is too small: ");
    AppendByteSize(Out, WindowSize(Bridge.Window));
    AppendText(Out, ", holding no ");
    AppendAlignedBlock(Out, Facts.Size);
    return;
  }
  case VerdictKind::Window32Bit:
    AppendWindowName(Out, Facts.Path.Steps[Judged.Bridge]);
    AppendText(Out, " decodes 32-bit addresses only, while ");
    AppendByteSize(Out, Facts.Size);
    AppendText(Out, " needs 64-bit placement");
    return;
  case VerdictKind::Bar32Bit:
    AppendText(Out, "BAR ");
    AppendDecimal(Out, Facts.Bar);
    AppendText(Out, " is a 32-bit BAR, which cannot hold 4 GB or more (");
    AppendByteSize(Out, Facts.Size);
    AppendText(Out, " proposed)");
    return;
  case VerdictKind::PlacedBelow4G:
    AppendText(Out, "BAR ");
    AppendDecimal(Out, Facts.Bar);
    AppendText(Out, " sits below 4 GB (at 0x");
    AppendHex(Out, Facts.Placement.Address, 0);
    AppendText(Out, ") and ");
    AppendByteSize(Out, Facts.Size);
    AppendText(Out, " would not fit there: firmware placed it low; a larger size needs 64-bit "
                    "placement, often called \"Above 4G decoding\" in setup menus");
    if (Facts.Path.Count == 0 && FirmwareGiven(Facts) && !Facts.RootWindowsKnown) {
      AppendText(Out, "; ");
      AppendApertureAnswer(Out, Facts.Firmware, Facts.Size);
    }
    return;
  case VerdictKind::RootBus:
    AppendRootBus(Out, Judged, Facts);
    return;
  case VerdictKind::UnknownBar:
    break;
  }
  AppendText(Out, "BAR ");
  AppendDecimal(Out, Facts.Bar);
  AppendText(Out, " cannot be explained: its register holds no memory BAR (");
  AppendBarKindText(Out, Facts.Placement, Facts.Bar);
  AppendText(Out, ")");
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

void AppendFunctionAddress(TextBuffer &Out, const FunctionHeader &Function) {
  AppendHex(Out, Function.Segment, SEGMENT_DIGITS);
  AppendText(Out, ":");
  AppendHex(Out, Function.Bus, BUS_DIGITS);
  AppendText(Out, ":");
  AppendHex(Out, Function.Device, DEVICE_DIGITS);
  AppendText(Out, ".");
  AppendHex(Out, Function.Function, FUNCTION_DIGITS);
}
