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

// One bridge: its functions and the bus range its resource descriptors report.
struct FixtureBridgeImage {
  // False for a bridge that reports memory and I/O windows only, and so no buses to scan.
  BOOLEAN HasBusRange;
  // Highest bus of the range 0..BusMaximum; reads on other buses find nothing.
  UINT16 BusMaximum;
  const FixtureFunction *Functions;
  UINTN FunctionCount;
};

// The bridges of the image, in install order; defined by the generated source.
extern const FixtureBridgeImage FixtureBridgeImages[];
extern const UINTN FixtureBridgeCount;
