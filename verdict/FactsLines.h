// The firmware's facts as "@" lines, in dump files and in the report file: written by the boot
// image, read by rbar-survey. `lspci -F` skips lines starting with "@". Hex addresses are 16
// lower-case digits, ranges are BASE-LIMIT with both ends included, segments 4 or more
// lower-case hex digits, buses 2:
//   @root-bridge SSSS BB-BB            a root bridge; the @allocated lines after it are its
//                                      memory descriptors, in order
//   @root-bridge SSSS BB-BB unknown    its Configuration() failed or its list was malformed
//   @allocated BASE-LIMIT mem32|mem64 [prefetchable]
//   @memory-space-map absent           the firmware has no DXE services table
//   @memory-space-map unknown          the map could not be read or was malformed
//   @memory-space-map                  a map was read; the @mmio lines after it are its
//                                      memory-mapped I/O entries, in order
//   @mmio BASE-LIMIT free|allocated
// The report file adds "@rbar-survey-report 1" as its first line and "@end" as its last.
#pragma once

#include "verdict/FirmwareFacts.h"
#include "verdict/TextBuffer.h"

// What a line was.
enum class FactsLineKind : UINT8 {
  // Not an "@" line: the caller reads it.
  NotFacts,
  // A fact, taken into the records.
  Fact,
  // "@rbar-survey-report 1": the first line of a report file.
  ReportStart,
  // "@end": the report file's last line.
  ReportEnd,
  // An "@" line that does not parse, or one out of place (an @allocated line before any
  // @root-bridge, an @mmio line outside a read map, a second @memory-space-map).
  Malformed,
};

// The reading of one file's "@" lines, line by line.
struct FactsReader {
  FirmwareFacts *Facts;
  // The root bridge the next @allocated lines belong to; null before the first.
  RootBridgeFacts *Current;
  // An @root-bridge line was read (Current may be null when the bridges overflowed).
  bool SeenRootBridge;
  bool SeenMemoryMap;
};

// A reader filling Facts, which it clears.
FactsReader StartFactsReader(FirmwareFacts &Facts);

// Reads Line[0..Length) (its line end, LF, CR LF or a CR alone, may be included).
FactsLineKind ReadFactsLine(FactsReader &Reader, const char *Line, UINTN Length);

// The "@" lines of Facts, each passed to Emit without a line end, in the order above: each root
// bridge with its @allocated lines, then the map's line and its @mmio lines. Nothing for a map
// NotGiven.
void WriteFactsLines(const FirmwareFacts &Facts, void (*Emit)(void *Context, const char *Line),
                     void *Context);

// Words of the report file's first and last line.
inline constexpr const char REPORT_FILE_FIRST_LINE[] = "@rbar-survey-report 1";
inline constexpr const char REPORT_FILE_END_LINE[] = "@end";
