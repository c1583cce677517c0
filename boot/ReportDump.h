// The configuration dump of the report file: every function on the path of each Resizable BAR
// the report names (the bridges from its root bus down, function 0 of its device, the function
// itself), in the form lspci -xxxx prints. Configuration reads only, bounded in number.
#pragma once

#include "boot/ReportFileWriter.h"
#include "firmware/PciRootBridgeIo.h"
#include "firmware/UefiBase.h"

// Root bridges looked at, functions the report may name, and functions dumped.
inline constexpr UINTN DUMP_MAX_ROOT_BRIDGES = 16;
inline constexpr UINTN DUMP_MAX_REPORTED_FUNCTIONS = 64;
inline constexpr UINTN DUMP_MAX_FUNCTIONS = 128;
// Bridges followed from a root bus down to a function.
inline constexpr UINTN DUMP_MAX_PATH_BRIDGES = 32;

// A function's address: its segment and bus, device and function numbers.
struct FunctionAddress {
  UINT32 Segment;
  UINT32 Bus;
  UINT32 Device;
  UINT32 Function;
};

// A root bridge and the buses its resource list gives it.
struct DumpRootBridge {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge;
  UINT32 BusFirst;
  UINT32 BusLast;
};

// The functions a report names: each line that starts, after the report file's "# ", with
// "SSSS:BB:DD.F" followed by a space or the line end, once each, in order. Returns how many
// were stored in Out (at most Max).
UINTN ReportedFunctions(const CHAR8 *Text, UINTN Size, FunctionAddress *Out, UINTN Max);

// Writes the dump of the functions Text names, on the firmware's root bridges.
void WriteConfigurationDump(ReportFileWriter &Writer, const CHAR8 *Text, UINTN Size);
