// Lines the annotated report adds where the driver's lines leave something unsaid: a BAR with
// nothing to propose, and the driver's deliberate differences from the raw capability. Shared
// by the boot screen and rbar-survey, so that both say the same; each is one line, indented
// by two spaces, without a line end.
#pragma once

#include "verdict/TextBuffer.h"

// Appends size index Index in words: "256 MB", "8 GB", "2^60 MB".
void AppendSizeIndex(TextBuffer &Out, UINT32 Index);

// "  BAR 2: 2 MB only, nothing to propose": below a "RBarSizes Mask" line that no BAR line
// follows. Mask holds the supported sizes (bit n for 1 MB x 2^n), Current the current index.
void AppendNothingToPropose(TextBuffer &Out, UINT32 Bar, UINT32 Mask, UINT32 Current);

// "  BAR 0: the card advertises 256 MB to 1 GB; the driver takes 256 MB to 8 GB, the sizes it
// decodes": where the driver's device quirk replaced the advertised sizes.
void AppendWidenedSizes(TextBuffer &Out, UINT32 Bar, UINT32 Advertised, UINT32 Used);

// "  BAR 1: the capability also advertises 1 TB to 128 TB, sizes the report leaves out":
// LeftOut holds those sizes (bit n for 1 MB x 2^n, n from 20).
void AppendSizesLeftOut(TextBuffer &Out, UINT32 Bar, UINT32 LeftOut);

// "0000:02:00.1-7 not scanned: the driver reads only function 0 of a device whose function 0
// is not multi-function": once per such device, after the report, naming the first and the
// last function present (functions 1 to 7) that the driver did not read.
void AppendSkippedFunctions(TextBuffer &Out, UINT32 Segment, UINT8 Bus, UINT8 Device, UINT8 First,
                            UINT8 Last);

// The sizes a Resizable BAR capability register advertises that the driver's report leaves
// out (1 TB and more, bits 31..24), as a mask of size indexes (bit n for 1 MB x 2^n).
UINT32 SizesLeftOut(UINT32 Capability);
