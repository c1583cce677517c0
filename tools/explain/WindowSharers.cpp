// Sharers of a bridge window, by the programmed address of every memory BAR below the bridge.
#include "tools/explain/WindowSharers.h"

#include "tools/explain/EngineViews.h"

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
