// Host-side decoding of the Resizable BAR capability, walked as the driver walks it: the
// extended chain from 0x100, bounded by the same budget, and the first entry naming each BAR.
#include "tools/survey/RebarEntries.h"

#include "driver/PciRegisters.h"
#include "driver/RebarEvaluation.h"
#include "driver/RebarRegisters.h"
#include "driver/RegisterField.h"
#include "tools/source/ConfigRegisters.h"

namespace {

// Offset of Function's Resizable BAR capability, or 0 when the walk finds none.
size_t FindRebar(const ConfigFunction &Function) {
  size_t Current = PCI_EXTENDED_CAPABILITY_START;
  uint32_t Header = ReadConfig32(Function, Current);
  if (Header == PCI_EXT_CAP_HEADER_NONE || Header == PCI_EXT_CAP_HEADER_ABSENT) {
    return 0;
  }
  for (int32_t Budget = PCI_EXT_CAP_WALK_BUDGET - 1;; --Budget) {
    if (RegisterField(Header, PCI_EXT_CAP_ID_MASK) == PCI_EXT_CAP_ID_REBAR) {
      return Current;
    }
    const uint32_t Next =
        RegisterField(Header, PCI_EXT_CAP_NEXT_MASK) & PCI_EXT_CAP_NEXT_OFFSET_MASK;
    // A header the function does not hold ends the walk as a failed read does.
    if (Next < PCI_EXTENDED_CAPABILITY_START || Function.Bytes.size() < Next + sizeof(uint32_t) ||
        Budget <= 0) {
      return 0;
    }
    Header = ReadConfig32(Function, Next);
    Current = Next;
  }
}

// Offset of the first entry of the capability at Rebar whose control register names Bar, or 0.
size_t FindEntry(const ConfigFunction &Function, size_t Rebar, uint32_t Bar) {
  const uint32_t Count =
      RegisterField(ReadConfig32(Function, Rebar + REBAR_CONTROL), REBAR_CONTROL_ENTRY_COUNT_MASK);
  for (uint32_t Entry = 0; Entry < Count; ++Entry) {
    const size_t Offset = Rebar + REBAR_ENTRY_STRIDE * Entry;
    if (RegisterField(ReadConfig32(Function, Offset + REBAR_CONTROL),
                      REBAR_CONTROL_BAR_INDEX_MASK) == Bar) {
      return Offset;
    }
  }
  return 0;
}

} // namespace

std::vector<RebarEntry> DecodeRebarEntries(const ConfigFunction &Function) {
  std::vector<RebarEntry> Entries;
  const size_t Rebar = FindRebar(Function);
  if (Rebar == 0) {
    return Entries;
  }
  const uint16_t Vendor = ReadConfig16(Function, PCI_VENDOR_ID);
  const uint16_t Device = ReadConfig16(Function, PCI_DEVICE_ID);
  for (uint32_t Bar = REBAR_FIRST_BAR; Bar <= REBAR_LAST_BAR; ++Bar) {
    const size_t Entry = FindEntry(Function, Rebar, Bar);
    if (Entry == 0) {
      continue;
    }
    const uint32_t Capability = ReadConfig32(Function, Entry + REBAR_CAPABILITY);
    const uint32_t Mask = RebarSizeMask(Vendor, Device, static_cast<uint8_t>(Bar), Capability);
    if (Mask == 0) {
      continue;
    }
    const uint32_t Current =
        RegisterField(ReadConfig32(Function, Entry + REBAR_CONTROL), REBAR_CONTROL_BAR_SIZE_MASK);
    Entries.push_back({Bar, Mask, Current, Capability});
  }
  return Entries;
}
