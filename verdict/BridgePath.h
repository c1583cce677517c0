// The bridges between a root bus and a function and the memory windows they forward, read
// from the bridges' type 1 headers.
#pragma once

#include "verdict/FunctionHeader.h"

// One memory window of a bridge: the addresses it forwards to its secondary side.
struct BridgeWindow {
  bool Prefetchable = false;
  // The window decodes 64-bit addresses (only a prefetchable window can).
  bool Decodes64 = false;
  // A window whose limit lies below its base forwards nothing.
  bool Enabled = false;
  UINT64 Base = 0;
  UINT64 Limit = 0;
};

// A bridge on the path, with the window that would hold the BAR being explained.
struct PathBridge {
  const FunctionHeader *Bridge = nullptr;
  UINT8 Secondary = 0;
  UINT8 Subordinate = 0;
  BridgeWindow Window;
};

// Bridges a path keeps: the outermost ones when a (damaged) image offers more. Real hierarchies
// are a few bridges deep; a path of 32 holds any that fits in 256 buses with room to spare.
inline constexpr UINTN MAX_PATH_BRIDGES = 32;

// The bridges from the root bus down, outermost first.
struct BridgePath {
  PathBridge Steps[MAX_PATH_BRIDGES];
  UINTN Count = 0;
};

// The memory window and the prefetchable memory window of a bridge's header.
BridgeWindow MemoryWindow(const FunctionHeader &Bridge);
BridgeWindow PrefetchableWindow(const FunctionHeader &Bridge);

// The bytes a window spans; 0 for a disabled one. A window of all 2^64 addresses gives
// UINT64_MAX.
UINT64 WindowSize(const BridgeWindow &Window);

// True when Window holds a block of Size bytes (a power of two) aligned to Size.
bool WindowHoldsAligned(const BridgeWindow &Window, UINT64 Size);

// True when Bridge is a bridge header whose bus range is set up: its secondary bus lies above
// its own bus and the subordinate bus is not below the secondary.
bool IsSetUpBridge(const FunctionHeader &Bridge);

// Fills Path with the bridges of Functions whose secondary to subordinate bus range holds
// Key's bus, in Key's segment, outermost first (by secondary bus; equal ones in list order).
// A bridge that is not set up forwards nothing and is left out; so is Key itself. Each comes
// with its prefetchable window when Prefetchable, else its memory window.
void FindBridgePath(FunctionList Functions, const FunctionHeader &Key, bool Prefetchable,
                    BridgePath &Path);

// The root bus above a path: the bus of its outermost bridge, or Key's own bus when empty.
UINT8 RootBusOf(const BridgePath &Path, const FunctionHeader &Key);
