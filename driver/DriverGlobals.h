// The driver's globals: what the firmware handed to the entry point, the root bridge being
// walked, the one setting and the count of functions found with a Resizable BAR. All are zero
// until DriverEntry runs.
#pragma once

#include "firmware/PciRootBridgeIo.h"
#include "firmware/SystemTable.h"

extern EFI_HANDLE ImageHandle;
extern EFI_SYSTEM_TABLE *SystemTable;
extern EFI_BOOT_SERVICES *BootServices;
extern EFI_RUNTIME_SERVICES *RuntimeServices;
// The root bridge whose configuration space every read goes through.
extern EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *ActiveRootBridgeIo;
// Highest BAR size index the evaluation may propose; 255 places no limit.
extern UINT8 SizeIndexCeiling;
// Functions the scan found with a Resizable BAR capability since DriverEntry began; the boot
// image reports it after the survey.
extern UINT32 RebarFunctionCount;

// The value DriverEntry gives SizeIndexCeiling.
inline constexpr UINT8 SIZE_INDEX_NO_CEILING = 255;
