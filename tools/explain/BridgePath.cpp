// Bridge windows and paths decoded from type 1 headers, as a bridge forwards memory cycles:
// an address goes to the secondary side when it lies between the window's base and limit.
#include "tools/explain/BridgePath.h"

#include <algorithm>

#include "tools/explain/BarPlacement.h"
#include "tools/source/ConfigRegisters.h"

namespace {

// The address bits 31..20 held in a window base or limit register, in place.
uint64_t WindowAddressBits(uint16_t Register) {
  return static_cast<uint64_t>(Register & PCI_BRIDGE_WINDOW_ADDRESS_MASK)
         << PCI_BRIDGE_WINDOW_ADDRESS_SHIFT;
}

// A window from its base and limit addresses, the limit's low bits filled in.
BridgeWindow MakeWindow(bool Prefetchable, bool Decodes64, uint64_t Base, uint64_t Limit) {
  BridgeWindow Window;
  Window.Prefetchable = Prefetchable;
  Window.Decodes64 = Decodes64;
  Window.Base = Base;
  Window.Limit = Limit | (PCI_BRIDGE_WINDOW_GRANULARITY - 1);
  Window.Enabled = Window.Base <= Window.Limit;
  return Window;
}

// True when Bridge is a bridge header whose bus range is set up: its secondary bus lies above
// its own bus and the subordinate bus is not below the secondary.
bool IsSetUpBridge(const PreviewFunction &Bridge) {
  if (HeaderLayout(Bridge.Config) != PCI_HEADER_LAYOUT_BRIDGE) {
    return false;
  }
  const uint8_t Secondary = ReadConfig8(Bridge.Config, PCI_BRIDGE_SECONDARY_BUS);
  const uint8_t Subordinate = ReadConfig8(Bridge.Config, PCI_BRIDGE_SUBORDINATE_BUS);
  return Secondary > Bridge.Config.Bus && Subordinate >= Secondary;
}

} // namespace

BridgeWindow MemoryWindow(const ConfigFunction &Bridge) {
  return MakeWindow(false, false, WindowAddressBits(ReadConfig16(Bridge, PCI_BRIDGE_MEMORY_BASE)),
                    WindowAddressBits(ReadConfig16(Bridge, PCI_BRIDGE_MEMORY_LIMIT)));
}

BridgeWindow PrefetchableWindow(const ConfigFunction &Bridge) {
  const uint16_t BaseRegister = ReadConfig16(Bridge, PCI_BRIDGE_PREF_MEMORY_BASE);
  const uint16_t LimitRegister = ReadConfig16(Bridge, PCI_BRIDGE_PREF_MEMORY_LIMIT);
  uint64_t Base = WindowAddressBits(BaseRegister);
  uint64_t Limit = WindowAddressBits(LimitRegister);
  const bool Decodes64 = (BaseRegister & PCI_BRIDGE_PREF_TYPE_MASK) == PCI_BRIDGE_PREF_TYPE_64;
  if (Decodes64) {
    Base |= static_cast<uint64_t>(ReadConfig32(Bridge, PCI_BRIDGE_PREF_BASE_UPPER32))
            << BITS_PER_DWORD;
    Limit |= static_cast<uint64_t>(ReadConfig32(Bridge, PCI_BRIDGE_PREF_LIMIT_UPPER32))
             << BITS_PER_DWORD;
  }
  return MakeWindow(true, Decodes64, Base, Limit);
}

uint64_t WindowSize(const BridgeWindow &Window) {
  if (!Window.Enabled) {
    return 0;
  }
  const uint64_t Span = Window.Limit - Window.Base;
  return Span == UINT64_MAX ? UINT64_MAX : Span + 1;
}

bool WindowHoldsAligned(const BridgeWindow &Window, uint64_t Size) {
  if (!Window.Enabled || Size == 0) {
    return false;
  }
  // The first Size-aligned address at or above the base, then the block's last address; both
  // must stay within 64 bits.
  const uint64_t Mask = Size - 1;
  if (Window.Base > UINT64_MAX - Mask) {
    return false;
  }
  const uint64_t Start = (Window.Base + Mask) & ~Mask;
  return Start <= UINT64_MAX - Mask && Start + Mask <= Window.Limit;
}

std::vector<PathBridge> FindBridgePath(const PreviewImage &Image, const FunctionKey &Key,
                                       bool Prefetchable) {
  std::vector<PathBridge> Path;
  for (const PreviewFunction &Function : Image) {
    if (Function.Domain != Key.Domain || KeyOf(Function) == Key || !IsSetUpBridge(Function)) {
      continue;
    }
    PathBridge Step;
    Step.Bridge = &Function;
    Step.Secondary = ReadConfig8(Function.Config, PCI_BRIDGE_SECONDARY_BUS);
    Step.Subordinate = ReadConfig8(Function.Config, PCI_BRIDGE_SUBORDINATE_BUS);
    if (Key.Bus < Step.Secondary || Key.Bus > Step.Subordinate) {
      continue;
    }
    Step.Window =
        Prefetchable ? PrefetchableWindow(Function.Config) : MemoryWindow(Function.Config);
    Path.push_back(Step);
  }
  std::stable_sort(Path.begin(), Path.end(), [](const PathBridge &Left, const PathBridge &Right) {
    return Left.Secondary < Right.Secondary;
  });
  return Path;
}

uint8_t RootBusOf(const std::vector<PathBridge> &Path, const FunctionKey &Key) {
  return Path.empty() ? Key.Bus : Path.front().Bridge->Config.Bus;
}

std::vector<WindowSharer> FindWindowSharers(const PreviewImage &Image, const FunctionKey &Key,
                                            uint32_t Bar, const PathBridge &Bridge) {
  std::vector<WindowSharer> Sharers;
  const BridgeWindow &Window = Bridge.Window;
  if (!Window.Enabled) {
    return Sharers;
  }
  for (const PreviewFunction &Function : Image) {
    if (Function.Domain != Key.Domain || Function.Config.Bus < Bridge.Secondary ||
        Function.Config.Bus > Bridge.Subordinate) {
      continue;
    }
    for (uint32_t Other = 0; Other < PCI_NORMAL_BAR_COUNT; ++Other) {
      const BarPlacement Placement = DecodeBar(Function.Config, Other);
      if ((KeyOf(Function) != Key || Other != Bar) && IsMemoryBar(Placement.Kind) &&
          Placement.Address != 0 && Placement.Address >= Window.Base &&
          Placement.Address <= Window.Limit) {
        Sharers.push_back({&Function, Other, Placement.Address});
      }
    }
  }
  return Sharers;
}
