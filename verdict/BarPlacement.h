// What a BAR register says about its BAR: the kind of space it decodes and where the firmware
// placed it. Read only from the register's current value: a BAR is never sized by writing.
#pragma once

#include "verdict/FunctionHeader.h"
#include "verdict/TextBuffer.h"

// The kinds a BAR register can show. Only the memory kinds can be explained; the others say
// why a BAR line's index names no memory BAR.
enum class BarKind : UINT8 {
  // Memory anywhere in 32 bits, below 1 MB (a legacy type), or anywhere in 64 bits.
  Memory32,
  MemoryBelow1M,
  Memory64,
  // An I/O BAR.
  Io,
  // The register is the upper half of the 64-bit BAR before it.
  UpperHalf,
  // The memory type field holds the reserved value.
  ReservedType,
  // The function's header has no BAR of that index (a bridge has two), or the register is not
  // among the bytes held, or a 64-bit BAR's upper half would lie past the last BAR.
  NoSuchBar,
};

struct BarPlacement {
  BarKind Kind = BarKind::NoSuchBar;
  bool Prefetchable = false;
  // The address programmed into the register (both halves for a 64-bit BAR).
  UINT64 Address = 0;
};

// Decodes BAR Index (0 to 5) of Function from its register(s).
BarPlacement DecodeBar(const FunctionHeader &Function, UINT32 Index);

// True for the kinds that decode memory.
bool IsMemoryBar(BarKind Kind);

// Appends the kind in words: "memory, 64-bit, prefetchable", "I/O", "upper half of the 64-bit
// BAR 0", ...
void AppendBarKindText(TextBuffer &Out, const BarPlacement &Placement, UINT32 Index);

// The kind as a JSON token: "memory32", "memory64", "memory-below-1m", "io", "upper-half",
// "reserved-type", "no-such-bar".
const char *BarKindToken(BarKind Kind);
