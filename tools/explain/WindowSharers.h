// The functions that share the window a BAR would grow in: every memory BAR placed in the
// innermost bridge's window, found over the whole image.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/source/PreviewImage.h"
#include "verdict/BridgePath.h"

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
