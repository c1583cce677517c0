// The notes below a function's "RBarSizes" lines where the driver's lines leave something
// unsaid (a BAR with nothing to propose, the sizes a device quirk widened, sizes of 1 TB and
// more the report leaves out), in the verdict engine's words as `rbar-survey --annotate` prints
// them. The capability entries they need are read once per function beside the survey's reads,
// walked as the driver walks them (configuration reads only, the driver's bound).
#pragma once

#include "firmware/PciRootBridgeIo.h"
#include "verdict/FunctionHeader.h"

// One entry the driver reports: its BAR, the sizes it reports (the mask of the RBarSizes line),
// the current size index and the capability register as read.
struct RebarEntryRead {
  UINT32 Bar;
  UINT32 Mask;
  UINT32 Current;
  UINT32 Capability;
};

// BARs a capability can name.
inline constexpr UINTN REBAR_ENTRIES_MAX = 6;

struct RebarEntries {
  RebarEntryRead Entries[REBAR_ENTRIES_MAX];
  UINTN Count;
};

// Reads the entries of the function at Bus:Device.Function through Bridge, in BAR order, as
// the driver reports them (the first entry naming each BAR, with a mask it would print).
RebarEntries ReadRebarEntries(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge, UINT32 Bus, UINT32 Device,
                              UINT32 Function, UINT16 VendorId, UINT16 DeviceId);

// Starts a function: its entries are read at its first RBarSizes line.
void StartRebarNotes();

// After the function's RBarSizes line Mask (Bridge and the function's address and IDs to read
// its entries): keeps the line's entry until it is known whether a BAR line follows.
void NoteRbarSizesLine(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge, const FunctionHeader &Function,
                       UINT16 VendorId, UINT16 DeviceId, UINT32 Mask);

// Writes the notes of the RBarSizes line kept: Proposed when its BAR line followed. Nothing when
// none is kept.
void WriteRebarNotes(bool Proposed);

// True when Text[0..Length) is an "RBarSizes N" line (LF or CR LF ended); Mask is then N.
bool ParseRbarSizesLine(const CHAR16 *Text, UINTN Length, UINT32 &Mask);
