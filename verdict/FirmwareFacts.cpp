// The firmware's facts kept in fixed arrays: root bridges with their allocated ranges, and the
// memory-mapped I/O entries of the memory-space map.
#include "verdict/FirmwareFacts.h"

void ClearFirmwareFacts(FirmwareFacts &Facts) {
  Facts.RootBridgeCount = 0;
  Facts.MemoryMap = MemoryMapState::NotGiven;
  Facts.MmioCount = 0;
  Facts.Overflow = false;
}

RootBridgeFacts *AddRootBridge(FirmwareFacts &Facts, UINT32 Segment, UINT8 BusFirst, UINT8 BusLast,
                               bool Known) {
  if (Facts.RootBridgeCount >= MAX_ROOT_BRIDGES) {
    Facts.Overflow = true;
    return nullptr;
  }
  RootBridgeFacts &Bridge = Facts.RootBridges[Facts.RootBridgeCount++];
  Bridge.Segment = Segment;
  Bridge.BusFirst = BusFirst;
  Bridge.BusLast = BusLast;
  Bridge.Known = Known;
  Bridge.AllocatedCount = 0;
  return &Bridge;
}

bool AddAllocatedRange(FirmwareFacts &Facts, RootBridgeFacts &Bridge, AllocatedRange Range) {
  if (Range.Range.Limit < Range.Range.Base) {
    Bridge.Known = false;
    return false;
  }
  if (Bridge.AllocatedCount >= MAX_ALLOCATED_RANGES) {
    Facts.Overflow = true;
    Bridge.Known = false;
    return false;
  }
  Bridge.Allocated[Bridge.AllocatedCount++] = Range;
  return true;
}

bool AddMmioEntry(FirmwareFacts &Facts, AddressRange Range, bool Allocated) {
  if (Facts.MemoryMap == MemoryMapState::NotGiven) {
    Facts.MemoryMap = MemoryMapState::Read;
  }
  if (Range.Limit < Range.Base) {
    Facts.MemoryMap = MemoryMapState::Unknown;
    return false;
  }
  if (Facts.MmioCount >= MAX_MMIO_ENTRIES) {
    Facts.Overflow = true;
    Facts.MemoryMap = MemoryMapState::Unknown;
    return false;
  }
  Facts.Mmio[Facts.MmioCount++] = {Range, Allocated};
  return true;
}
