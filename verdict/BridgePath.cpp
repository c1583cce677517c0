// Bridge windows and paths decoded from type 1 headers, as a bridge forwards memory cycles:
// an address goes to the secondary side when it lies between the window's base and limit.
#include "verdict/BridgePath.h"

namespace {

// The address bits 31..20 held in a window base or limit register, in place.
UINT64 WindowAddressBits(UINT16 Register) {
  return static_cast<UINT64>(Register & PCI_BRIDGE_WINDOW_ADDRESS_MASK)
         << PCI_BRIDGE_WINDOW_ADDRESS_SHIFT;
}

// A window from its base and limit addresses, the limit's low bits filled in.
BridgeWindow MakeWindow(bool Prefetchable, bool Decodes64, UINT64 Base, UINT64 Limit) {
  BridgeWindow Window;
  Window.Prefetchable = Prefetchable;
  Window.Decodes64 = Decodes64;
  Window.Base = Base;
  Window.Limit = Limit | (PCI_BRIDGE_WINDOW_GRANULARITY - 1);
  Window.Enabled = Window.Base <= Window.Limit;
  return Window;
}

// Puts Step into Path, after every step whose secondary bus is not above its own; when the
// path is full, the innermost step (the new one, or the last) is left out.
void InsertStep(BridgePath &Path, const PathBridge &Step) {
  UINTN At = Path.Count;
  while (At > 0 && Path.Steps[At - 1].Secondary > Step.Secondary) {
    --At;
  }
  if (At >= MAX_PATH_BRIDGES) {
    return;
  }
  const UINTN Last = Path.Count < MAX_PATH_BRIDGES ? Path.Count : MAX_PATH_BRIDGES - 1;
  for (UINTN Index = Last; Index > At; --Index) {
    Path.Steps[Index] = Path.Steps[Index - 1];
  }
  Path.Steps[At] = Step;
  if (Path.Count < MAX_PATH_BRIDGES) {
    ++Path.Count;
  }
}

} // namespace

BridgeWindow MemoryWindow(const FunctionHeader &Bridge) {
  return MakeWindow(false, false, WindowAddressBits(ReadHeader16(Bridge, PCI_BRIDGE_MEMORY_BASE)),
                    WindowAddressBits(ReadHeader16(Bridge, PCI_BRIDGE_MEMORY_LIMIT)));
}

BridgeWindow PrefetchableWindow(const FunctionHeader &Bridge) {
  const UINT16 BaseRegister = ReadHeader16(Bridge, PCI_BRIDGE_PREF_MEMORY_BASE);
  const UINT16 LimitRegister = ReadHeader16(Bridge, PCI_BRIDGE_PREF_MEMORY_LIMIT);
  UINT64 Base = WindowAddressBits(BaseRegister);
  UINT64 Limit = WindowAddressBits(LimitRegister);
  const bool Decodes64 = (BaseRegister & PCI_BRIDGE_PREF_TYPE_MASK) == PCI_BRIDGE_PREF_TYPE_64;
  if (Decodes64) {
    Base |= static_cast<UINT64>(ReadHeader32(Bridge, PCI_BRIDGE_PREF_BASE_UPPER32))
            << BITS_PER_DWORD;
    Limit |= static_cast<UINT64>(ReadHeader32(Bridge, PCI_BRIDGE_PREF_LIMIT_UPPER32))
             << BITS_PER_DWORD;
  }
  return MakeWindow(true, Decodes64, Base, Limit);
}

UINT64 WindowSize(const BridgeWindow &Window) {
  if (!Window.Enabled) {
    return 0;
  }
  const UINT64 Span = Window.Limit - Window.Base;
  return Span == UINT64_MAX ? UINT64_MAX : Span + 1;
}

bool WindowHoldsAligned(const BridgeWindow &Window, UINT64 Size) {
  if (!Window.Enabled || Size == 0) {
    return false;
  }
  // The first Size-aligned address at or above the base, then the block's last address; both
  // must stay within 64 bits.
  const UINT64 Mask = Size - 1;
  if (Window.Base > UINT64_MAX - Mask) {
    return false;
  }
  const UINT64 Start = (Window.Base + Mask) & ~Mask;
  return Start <= UINT64_MAX - Mask && Start + Mask <= Window.Limit;
}

bool IsSetUpBridge(const FunctionHeader &Bridge) {
  if (HeaderLayoutOf(Bridge) != PCI_HEADER_LAYOUT_BRIDGE) {
    return false;
  }
  const UINT8 Secondary = ReadHeader8(Bridge, PCI_BRIDGE_SECONDARY_BUS);
  const UINT8 Subordinate = ReadHeader8(Bridge, PCI_BRIDGE_SUBORDINATE_BUS);
  return Secondary > Bridge.Bus && Subordinate >= Secondary;
}

void FindBridgePath(FunctionList Functions, const FunctionHeader &Key, bool Prefetchable,
                    BridgePath &Path) {
  Path.Count = 0;
  for (UINTN Index = 0; Index < Functions.Count; ++Index) {
    const FunctionHeader &Function = Functions.Items[Index];
    if (Function.Segment != Key.Segment || SameFunctionAddress(Function, Key) ||
        !IsSetUpBridge(Function)) {
      continue;
    }
    PathBridge Step;
    Step.Bridge = &Function;
    Step.Secondary = ReadHeader8(Function, PCI_BRIDGE_SECONDARY_BUS);
    Step.Subordinate = ReadHeader8(Function, PCI_BRIDGE_SUBORDINATE_BUS);
    if (Key.Bus < Step.Secondary || Key.Bus > Step.Subordinate) {
      continue;
    }
    Step.Window = Prefetchable ? PrefetchableWindow(Function) : MemoryWindow(Function);
    InsertStep(Path, Step);
  }
}

UINT8 RootBusOf(const BridgePath &Path, const FunctionHeader &Key) {
  return Path.Count == 0 ? Key.Bus : Path.Steps[0].Bridge->Bus;
}
