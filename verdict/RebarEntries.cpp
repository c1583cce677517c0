// Host-side and boot-side decoding of the Resizable BAR capability, walked as the driver walks
// it, and the notes on each reported BAR.
#include "verdict/RebarEntries.h"

#include "driver/PciRegisters.h"
#include "driver/RebarEvaluation.h"
#include "driver/RebarRegisters.h"
#include "driver/RegisterField.h"
#include "verdict/ReportNotes.h"

namespace {

// Offset of Function's Resizable BAR capability, or 0 when the walk finds none.
UINTN FindRebar(const FunctionHeader &Function) {
  UINTN Current = PCI_EXTENDED_CAPABILITY_START;
  UINT32 Header = ReadHeader32(Function, Current);
  if (Header == PCI_EXT_CAP_HEADER_NONE || Header == PCI_EXT_CAP_HEADER_ABSENT) {
    return 0;
  }
  for (INT32 Budget = PCI_EXT_CAP_WALK_BUDGET - 1;; --Budget) {
    if (RegisterField(Header, PCI_EXT_CAP_ID_MASK) == PCI_EXT_CAP_ID_REBAR) {
      return Current;
    }
    const UINT32 Next = RegisterField(Header, PCI_EXT_CAP_NEXT_MASK) & PCI_EXT_CAP_NEXT_OFFSET_MASK;
    // A header the function does not hold ends the walk as a failed read does.
    if (Next < PCI_EXTENDED_CAPABILITY_START || Function.Length < Next + sizeof(UINT32) ||
        Budget <= 0) {
      return 0;
    }
    Header = ReadHeader32(Function, Next);
    Current = Next;
  }
}

// Offset of the first entry of the capability at Rebar whose control register names Bar, or 0.
UINTN FindEntry(const FunctionHeader &Function, UINTN Rebar, UINT32 Bar) {
  const UINT32 Count =
      RegisterField(ReadHeader32(Function, Rebar + REBAR_CONTROL), REBAR_CONTROL_ENTRY_COUNT_MASK);
  for (UINT32 Entry = 0; Entry < Count; ++Entry) {
    const UINTN Offset = Rebar + REBAR_ENTRY_STRIDE * Entry;
    if (RegisterField(ReadHeader32(Function, Offset + REBAR_CONTROL),
                      REBAR_CONTROL_BAR_INDEX_MASK) == Bar) {
      return Offset;
    }
  }
  return 0;
}

} // namespace

UINTN DecodeRebarEntries(const FunctionHeader &Function, RebarEntry (&Entries)[MAX_REBAR_ENTRIES]) {
  UINTN Count = 0;
  const UINTN Rebar = FindRebar(Function);
  if (Rebar == 0) {
    return 0;
  }
  const UINT16 Vendor = ReadHeader16(Function, PCI_VENDOR_ID);
  const UINT16 Device = ReadHeader16(Function, PCI_DEVICE_ID);
  for (UINT32 Bar = REBAR_FIRST_BAR; Bar <= REBAR_LAST_BAR; ++Bar) {
    const UINTN Entry = FindEntry(Function, Rebar, Bar);
    if (Entry == 0) {
      continue;
    }
    const UINT32 Capability = ReadHeader32(Function, Entry + REBAR_CAPABILITY);
    const UINT32 Mask = RebarSizeMask(Vendor, Device, static_cast<UINT8>(Bar), Capability);
    if (Mask == 0) {
      continue;
    }
    const UINT32 Current =
        RegisterField(ReadHeader32(Function, Entry + REBAR_CONTROL), REBAR_CONTROL_BAR_SIZE_MASK);
    Entries[Count++] = {Bar, Mask, Current, Capability};
  }
  return Count;
}

UINTN AppendBarNotes(TextBuffer &Out, const FunctionHeader &Function, UINTN Nth, UINT32 Mask,
                     bool Proposed) {
  RebarEntry Entries[MAX_REBAR_ENTRIES];
  const UINTN Count = DecodeRebarEntries(Function, Entries);
  if (Nth >= Count || Entries[Nth].Mask != Mask) {
    return 0;
  }
  const RebarEntry &Entry = Entries[Nth];
  UINTN Lines = 0;
  if (!Proposed) {
    AppendNothingToPropose(Out, Entry.Bar, Entry.Mask, Entry.Current);
    AppendText(Out, "\n");
    ++Lines;
  }
  const UINT32 Advertised =
      (Entry.Capability & REBAR_CAPABILITY_SIZES_MASK) >> REBAR_CAPABILITY_SIZES_SHIFT;
  if (Advertised != Entry.Mask) {
    AppendWidenedSizes(Out, Entry.Bar, Advertised, Entry.Mask);
    AppendText(Out, "\n");
    ++Lines;
  }
  if (const UINT32 LeftOut = SizesLeftOut(Entry.Capability); LeftOut != 0) {
    AppendSizesLeftOut(Out, Entry.Bar, LeftOut);
    AppendText(Out, "\n");
    ++Lines;
  }
  return Lines;
}
