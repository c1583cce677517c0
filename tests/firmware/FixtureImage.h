// Configuration images that the fixture root bridges serve: the present functions behind each
// bridge, generated at build time from dump files into constant data.
#pragma once

#include "firmware/UefiBase.h"

// Most bridges one fixture image installs.
inline constexpr UINTN FIXTURE_MAX_BRIDGES = 16;

// One present function: its address on the bridge and the first Size bytes of its
// configuration space (64, 256 or 4096).
struct FixtureFunction {
  UINT8 Bus;
  UINT8 Device;
  UINT8 Function;
  UINT16 Size;
  const UINT8 *Bytes;
};

// One memory range allocated to a bridge, as its resource descriptors report it.
struct FixtureAllocated {
  UINT64 Base;
  UINT64 Limit;
  BOOLEAN Mem64;
  BOOLEAN Prefetchable;
};

// One memory-mapped I/O entry of the memory-space map the fixture publishes.
struct FixtureMmio {
  UINT64 Base;
  UINT64 Limit;
  BOOLEAN Allocated;
};

// One bridge: its functions and the bus range its resource descriptors report.
struct FixtureBridgeImage {
  // False for a bridge that reports memory and I/O windows only, and so no buses to scan.
  BOOLEAN HasBusRange;
  // Highest bus of the range 0..BusMaximum; reads on other buses find nothing.
  UINT16 BusMaximum;
  const FixtureFunction *Functions;
  UINTN FunctionCount;
  // The memory ranges its descriptors report, from its dump's "@allocated" lines; without
  // them (HasAllocated false) a fixed 32-bit and 64-bit window.
  BOOLEAN HasAllocated;
  const FixtureAllocated *Allocated;
  UINTN AllocatedCount;
};

// Most memory ranges one bridge reports.
inline constexpr UINTN FIXTURE_MAX_ALLOCATED = 8;

// What the fixture says of the firmware beyond its bridges.
struct FixtureFirmwareFacts {
  // A memory-space map of the dumps' "@mmio" lines replaces the firmware's (the DXE services
  // configuration table points to the fixture's), so that the boot image and rbar-survey read
  // the same facts.
  BOOLEAN HasMemoryMap;
  const FixtureMmio *Mmio;
  UINTN MmioCount;
  // A Legacy BIOS protocol is installed: the firmware looks as if its CSM were loaded.
  BOOLEAN InstallsLegacyBios;
};

// The bridges of the image, in install order, and the firmware facts; defined by the generated
// source.
extern const FixtureBridgeImage FixtureBridgeImages[];
extern const UINTN FixtureBridgeCount;
extern const FixtureFirmwareFacts FixtureFacts;
