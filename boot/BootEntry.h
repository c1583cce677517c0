// The boot image's entry point: the survey as a boot option, shown long enough to be read.
#pragma once

#include "firmware/SystemTable.h"

// Runs the driver's survey on the consoles the boot manager has connected, prints how many
// functions have a Resizable BAR, counts down (any key ends it) and returns
// BOOT_OPTION_GO_ON_STATUS so that the boot manager starts the next boot option.
extern "C" EFI_STATUS EFIAPI BootEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table);

// Prints the line that follows the report: how many functions with a Resizable BAR the survey
// found, so that a machine without one shows a line instead of nothing.
void PrintRebarFunctionCount(UINT32 Count);
