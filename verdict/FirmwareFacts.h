// What the firmware says about each root bridge's memory: the ranges allocated to it (its
// Configuration() descriptors) and the memory-mapped I/O entries of the memory-space map. The
// boot image fills these records from the firmware; rbar-survey from a dump's "@" lines.
// Fixed arrays: a fact that does not fit marks the records Overflow, and what depends on the
// missing part is then said to be unknown.
#pragma once

#include "firmware/UefiBase.h"

// An address range, both ends included.
struct AddressRange {
  UINT64 Base;
  UINT64 Limit;
};

// One memory descriptor of a root bridge: where the firmware placed its memory.
struct AllocatedRange {
  AddressRange Range;
  // The descriptor's address granularity is 64 (a 64-bit range), not 32.
  bool Mem64;
  bool Prefetchable;
};

// Memory descriptors kept per root bridge.
inline constexpr UINTN MAX_ALLOCATED_RANGES = 8;

struct RootBridgeFacts {
  UINT32 Segment;
  UINT8 BusFirst;
  UINT8 BusLast;
  // Its Configuration() call succeeded and the descriptor list was well formed.
  bool Known;
  AllocatedRange Allocated[MAX_ALLOCATED_RANGES];
  UINTN AllocatedCount;
};

// What is known of the memory-space map.
enum class MemoryMapState : UINT8 {
  // No facts were given at all (a dump without "@" lines, or a live Linux machine).
  NotGiven,
  // The firmware has no DXE services table, so no map (U-Boot).
  Absent,
  // The map could not be read or was malformed.
  Unknown,
  // The map was read; Mmio holds its memory-mapped I/O entries.
  Read,
};

// One memory-mapped I/O entry of the map.
struct MmioEntry {
  AddressRange Range;
  // The entry has an image handle: something was allocated there.
  bool Allocated;
};

inline constexpr UINTN MAX_ROOT_BRIDGES = 16;
inline constexpr UINTN MAX_MMIO_ENTRIES = 64;

// About 5 KB: keep it in a global or the caller's pool, not in a firmware stack frame.
struct FirmwareFacts {
  RootBridgeFacts RootBridges[MAX_ROOT_BRIDGES];
  UINTN RootBridgeCount;
  MemoryMapState MemoryMap;
  MmioEntry Mmio[MAX_MMIO_ENTRIES];
  UINTN MmioCount;
  // A root bridge, a descriptor or an entry did not fit in the arrays above.
  bool Overflow;
};

// Empties Facts: no root bridge, map not given.
void ClearFirmwareFacts(FirmwareFacts &Facts);

// Adds a root bridge of buses BusFirst to BusLast; Known false for one whose Configuration()
// failed or whose list was malformed (its bus range then as the caller takes it, 00-ff when
// nothing is known). Returns it, or null (Facts marked Overflow) when MAX_ROOT_BRIDGES are there.
RootBridgeFacts *AddRootBridge(FirmwareFacts &Facts, UINT32 Segment, UINT8 BusFirst, UINT8 BusLast,
                               bool Known);

// Adds a memory descriptor to Bridge; false (Facts marked Overflow) when it is full, or for a
// range whose limit lies below its base (Bridge then unknown).
bool AddAllocatedRange(FirmwareFacts &Facts, RootBridgeFacts &Bridge, AllocatedRange Range);

// Adds a memory-mapped I/O entry of the map (the map state becomes Read); false (Overflow, map
// then unknown) when full, or for a range whose limit lies below its base (map unknown).
bool AddMmioEntry(FirmwareFacts &Facts, AddressRange Range, bool Allocated);

// Parses a root bridge's Configuration() list of ACPI address space descriptors (QWORD and
// DWORD forms, closed by an end tag) from List[0..Length): Length is the caller's bound (a
// firmware list carries none; the boot image passes the most it will look at). The bus range
// descriptor gives the bus range, each memory descriptor an allocated range. A list that is
// short, has a descriptor of another kind or a wrong length field, is truncated or has no end
// tag within Length adds the root bridge as unknown (with Segment and bus range 00-ff). Never
// reads past List + Length. Returns the root bridge added, or null when none fits.
RootBridgeFacts *AddRootBridgeDescriptors(FirmwareFacts &Facts, UINT32 Segment, const UINT8 *List,
                                          UINTN Length);
