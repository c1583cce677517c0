// The Resizable BAR capability decoded from a function's bytes, to tell which BAR each
// "RBarSizes" line of the report belongs to: the driver prints one for each BAR 0 to 5 that has
// an entry and a non-empty size mask, in BAR order, and names the BAR only in the "BAR" line
// that may follow. The walk is the driver's: the extended chain from 0x100, bounded by the same
// budget, and the first entry naming each BAR.
#pragma once

#include "verdict/FunctionHeader.h"
#include "verdict/TextBuffer.h"

// One BAR for which the driver prints an "RBarSizes" line.
struct RebarEntry {
  UINT32 Bar;
  // Supported sizes, bit n for 1 MB x 2^n, with the driver's device quirks applied.
  UINT32 Mask;
  // Current size index from the control register of the first entry naming the BAR.
  UINT32 Current;
  // The entry's capability register as read, before the quirks.
  UINT32 Capability;
};

// BARs a function may report: 0 to 5.
inline constexpr UINTN MAX_REBAR_ENTRIES = 6;

// Fills Entries with the BARs of Function that the driver reports, in the order it reports
// them, and returns their count; 0 when the function has no Resizable BAR capability within
// the driver's walk.
UINTN DecodeRebarEntries(const FunctionHeader &Function, RebarEntry (&Entries)[MAX_REBAR_ENTRIES]);

// Appends the notes (verdict/ReportNotes.h) on the Nth "RBarSizes Mask" line (from 0) of
// Function's report, each followed by "\n"; Proposed when a BAR line follows it. Nothing when
// the decoded capability does not give that line's mask. Returns the number of lines.
UINTN AppendBarNotes(TextBuffer &Out, const FunctionHeader &Function, UINTN Nth, UINT32 Mask,
                     bool Proposed);
