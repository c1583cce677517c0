// The windows of root buses as Linux lists them in /proc/iomem ("START-END : PCI Bus DDDD:BB"):
// the host bridge's apertures, which configuration space does not show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One address range that Linux assigns to a bus.
struct BusWindow {
  uint32_t Domain = 0;
  uint32_t Bus = 0;
  uint64_t Start = 0;
  uint64_t End = 0;
};

// The "PCI Bus DDDD:BB" ranges of Text (the content of /proc/iomem), at any nesting depth, in
// the order listed. Lines of any other form are passed over.
std::vector<BusWindow> ParseIomemBusWindows(const std::string &Text);

// The bus ranges of this machine's /proc/iomem. Linux shows a process that is not root every
// range as 0-0, so Known is set only when the file was read and some range is not 0-0.
std::vector<BusWindow> ReadIomemBusWindows(bool &Known);
