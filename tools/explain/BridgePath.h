// The bridges between a root bus and a function, the memory windows they forward, and the
// functions that share a window: all read from the bridges' type 1 headers in the image.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/source/PreviewImage.h"

// One memory window of a bridge: the addresses it forwards to its secondary side.
struct BridgeWindow {
  bool Prefetchable = false;
  // The window decodes 64-bit addresses (only a prefetchable window can).
  bool Decodes64 = false;
  // A window whose limit lies below its base forwards nothing.
  bool Enabled = false;
  uint64_t Base = 0;
  uint64_t Limit = 0;
};

// A bridge on the path, with the window that would hold the BAR being explained.
struct PathBridge {
  const PreviewFunction *Bridge = nullptr;
  uint8_t Secondary = 0;
  uint8_t Subordinate = 0;
  BridgeWindow Window;
};

// The memory window and the prefetchable memory window of a bridge's header.
BridgeWindow MemoryWindow(const ConfigFunction &Bridge);
BridgeWindow PrefetchableWindow(const ConfigFunction &Bridge);

// The bytes a window spans; 0 for a disabled one. A window of all 2^64 addresses gives
// UINT64_MAX.
uint64_t WindowSize(const BridgeWindow &Window);

// True when Window holds a block of Size bytes (a power of two) aligned to Size.
bool WindowHoldsAligned(const BridgeWindow &Window, uint64_t Size);

// The bridges of Image whose secondary to subordinate bus range holds Key's bus, in Key's
// domain, outermost first (by secondary bus). A bridge whose secondary bus is not above its
// own bus is not set up and forwards nothing, so it is left out; so is Key itself. Each comes
// with its prefetchable window when Prefetchable, else its memory window.
std::vector<PathBridge> FindBridgePath(const PreviewImage &Image, const FunctionKey &Key,
                                       bool Prefetchable);

// The root bus above a path: the bus of its outermost bridge, or Key's own bus when empty.
uint8_t RootBusOf(const std::vector<PathBridge> &Path, const FunctionKey &Key);

// A memory BAR of another function that lies in a window.
struct WindowSharer {
  const PreviewFunction *Function = nullptr;
  uint32_t Bar = 0;
  uint64_t Address = 0;
};

// The memory BARs other than BAR Bar of Key, of the functions on the buses below Bridge (its
// secondary to subordinate range), whose programmed address lies in Bridge's window: the
// other BARs of Key's function included. BARs at address 0 are taken as not placed.
std::vector<WindowSharer> FindWindowSharers(const PreviewImage &Image, const FunctionKey &Key,
                                            uint32_t Bar, const PathBridge &Bridge);
