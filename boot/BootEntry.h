// The boot image's entry point: the survey as a boot option, shown long enough to be read.
#pragma once

#include "boot/RootBridgeRecorder.h"
#include "firmware/SystemTable.h"
#include "verdict/FirmwareFacts.h"

// Runs the driver's survey on the consoles the boot manager has connected, prints how many
// functions have a Resizable BAR, counts down (any key ends it) and returns
// BOOT_OPTION_GO_ON_STATUS so that the boot manager starts the next boot option.
extern "C" EFI_STATUS EFIAPI BootEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table);

// Writes the line that follows the report: the version, how many root bridges and functions the
// survey scanned and how many of them have a Resizable BAR, so that a machine without one shows
// what was looked at instead of nothing.
void PrintCountLine(const SurveyCounts &Counts, UINT32 RebarFunctions);

// The firmware's facts as this boot read them before the report (each root bridge's memory
// descriptors, the memory-space map's memory-mapped I/O entries).
const FirmwareFacts &BootFirmwareFacts();
