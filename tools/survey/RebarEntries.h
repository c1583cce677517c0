// The Resizable BAR capability decoded from the configuration image, to tell which BAR each
// "RBarSizes" line of the report belongs to: the driver prints one for each BAR 0 to 5 that
// has an entry and a non-empty size mask, in BAR order, and names the BAR only in the "BAR"
// line that may follow.
#pragma once

#include <cstdint>
#include <vector>

#include "host/ConfigImage.h"

// One BAR for which the driver prints an "RBarSizes" line.
struct RebarEntry {
  uint32_t Bar = 0;
  // Supported sizes, bit n for 1 MB x 2^n, with the driver's device quirks applied.
  uint32_t Mask = 0;
  // Current size index from the control register of the first entry naming the BAR.
  uint32_t Current = 0;
  // The entry's capability register as read, before the quirks.
  uint32_t Capability = 0;
};

// The BARs of Function that the driver reports, in the order it reports them; none when the
// function has no Resizable BAR capability within the driver's walk.
std::vector<RebarEntry> DecodeRebarEntries(const ConfigFunction &Function);
