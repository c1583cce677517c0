// Resizable BAR evaluation and report. Only reads: the proposed size is printed, never applied.
#include "driver/RebarEvaluation.h"

#include "driver/DriverGlobals.h"
#include "driver/RebarRegisters.h"
#include "driver/RegisterField.h"
#include "print/ConsolePrint.h"

// Result of FindRebarEntry when no entry describes the BAR.
inline constexpr INT64 REBAR_NO_ENTRY = -1;

// AMD Navi 10 (1002:731F) advertises only 256 MB to 1 GB for BAR 0 although it decodes up to
// 8 GB; for exactly that advertisement the sizes 256 MB to 8 GB are used instead.
inline constexpr UINT16 NAVI10_VENDOR_ID = 0x1002;
inline constexpr UINT16 NAVI10_DEVICE_ID = 0x731F;
inline constexpr UINT8 NAVI10_BAR = 0;
inline constexpr UINT32 NAVI10_ADVERTISED_SIZES = 0x00007000;
inline constexpr UINT32 NAVI10_SIZE_MASK = 0x3F00;

static_assert(REBAR_CONTROL_ENTRY_COUNT_MASK == 0xE0 && REBAR_CONTROL_BAR_SIZE_MASK == 0x1F00);

INT64 FindRebarEntry(PciConfigAddress Base, UINT64 RebarOffset, UINT8 BarIndex) {
  UINT32 FirstControl = 0;
  PciConfigRead32(Base, RebarOffset + REBAR_CONTROL, &FirstControl);
  const UINT32 Count = RegisterField(FirstControl, REBAR_CONTROL_ENTRY_COUNT_MASK);
  for (UINT32 Entry = 0; Entry < Count; ++Entry) {
    const UINT64 EntryOffset = RebarOffset + REBAR_ENTRY_STRIDE * Entry;
    UINT32 Control = 0;
    PciConfigRead32(Base, EntryOffset + REBAR_CONTROL, &Control);
    if (RegisterField(Control, REBAR_CONTROL_BAR_INDEX_MASK) == BarIndex) {
      return static_cast<INT64>(EntryOffset);
    }
  }
  return REBAR_NO_ENTRY;
}

UINT64 BitLength32(UINT32 Value) {
  UINT64 Length = 0;
  while (Value != 0) {
    ++Length;
    Value >>= 1;
  }
  return Length;
}

UINT32 RebarSizeMask(UINT16 VendorId, UINT16 DeviceId, UINT8 BarIndex, UINT32 Capability) {
  const UINT32 Sizes = Capability & REBAR_CAPABILITY_SIZES_MASK;
  if (VendorId == NAVI10_VENDOR_ID && DeviceId == NAVI10_DEVICE_ID && BarIndex == NAVI10_BAR &&
      Sizes == NAVI10_ADVERTISED_SIZES) {
    return NAVI10_SIZE_MASK;
  }
  return Sizes >> REBAR_CAPABILITY_SIZES_SHIFT;
}

UINT8 ProposeSizeIndex(UINT32 Mask, UINT8 Current, UINT8 Ceiling) {
  const UINT64 Highest = BitLength32(Mask) - 1;
  const UINT8 Start = static_cast<UINT8>(Highest < Ceiling ? Highest : Ceiling);
  for (UINT32 Candidate = Start; Candidate >= REBAR_SMALLEST_PROPOSED_INDEX; --Candidate) {
    if (Candidate != Current && (Mask & (1U << Candidate)) != 0) {
      return static_cast<UINT8>(Candidate);
    }
  }
  return 0;
}

// Reports one BAR: its sizes line and, when a size can be proposed, its BAR line.
static void EvaluateBar(PciConfigAddress Base, UINT16 RebarOffset, UINT16 VendorId, UINT16 DeviceId,
                        UINT8 BarIndex) {
  UINT8 Current = 0;
  const INT64 CurrentEntry = FindRebarEntry(Base, RebarOffset, BarIndex);
  if (CurrentEntry != REBAR_NO_ENTRY) {
    UINT32 Control = 0;
    PciConfigRead32(Base, static_cast<UINT64>(CurrentEntry) + REBAR_CONTROL, &Control);
    Current = static_cast<UINT8>(RegisterField(Control, REBAR_CONTROL_BAR_SIZE_MASK));
  }

  const INT64 Entry = FindRebarEntry(Base, RebarOffset, BarIndex);
  if (Entry == REBAR_NO_ENTRY) {
    return;
  }
  UINT32 Capability = 0;
  PciConfigRead32(Base, static_cast<UINT64>(Entry) + REBAR_CAPABILITY, &Capability);
  const UINT32 Mask = RebarSizeMask(VendorId, DeviceId, BarIndex, Capability);
  if (Mask == 0) {
    return;
  }

  Print(u"RBarSizes %lu\n", static_cast<UINT64>(Mask));
  const UINT8 Proposed = ProposeSizeIndex(Mask, Current, SizeIndexCeiling);
  if (Proposed != 0) {
    const UINT32 Highest = static_cast<UINT32>(BitLength32(Mask) - 1);
    Print(u"BAR %u RBAR CURRENT %u RBAR MAX %u RBAR NEW %u\n", static_cast<UINT32>(BarIndex),
          static_cast<UINT32>(Current), Highest, static_cast<UINT32>(Proposed));
  }
}

void EvaluateRebar(PciConfigAddress Base, UINT16 RebarOffset, UINT16 VendorId, UINT16 DeviceId) {
  for (UINT8 BarIndex = REBAR_FIRST_BAR; BarIndex <= REBAR_LAST_BAR; ++BarIndex) {
    EvaluateBar(Base, RebarOffset, VendorId, DeviceId, BarIndex);
  }
}
