// Resizable BAR evaluation: the supported and current sizes of BARs 0 to 5 and the size the
// driver would propose, printed as the report.
#pragma once

#include "driver/PciConfigAccess.h"

// Reports BARs 0 to 5 of the function at Base, whose Resizable BAR capability is at
// RebarOffset.
void EvaluateRebar(PciConfigAddress Base, UINT16 RebarOffset, UINT16 VendorId, UINT16 DeviceId);

// The offset RebarOffset + 8 x n of the first entry n whose control register names BarIndex,
// or -1 when the capability has no such entry. The entry's capability register is at
// result + 4, its control register at result + 8.
INT64 FindRebarEntry(PciConfigAddress Base, UINT64 RebarOffset, UINT8 BarIndex);

// 0 for 0, otherwise the position of the highest set bit plus 1 (0x7000 gives 15).
UINT64 BitLength32(UINT32 Value);

// The supported-size mask of a BAR (bit n: 1 MB x 2^n) from its capability register, with the
// device quirks applied.
UINT32 RebarSizeMask(UINT16 VendorId, UINT16 DeviceId, UINT8 BarIndex, UINT32 Capability);

// The size index to propose for a BAR: the largest supported index from min(Highest, Ceiling)
// down to 1 that differs from Current, or 0 when there is none.
UINT8 ProposeSizeIndex(UINT32 Mask, UINT8 Current, UINT8 Ceiling);
