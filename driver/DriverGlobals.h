// The driver's globals: what the firmware handed to the entry point, the root bridge being
// walked and the one setting. All are zero until DriverEntry runs.
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

// The value DriverEntry gives SizeIndexCeiling.
inline constexpr UINT8 SIZE_INDEX_NO_CEILING = 255;
