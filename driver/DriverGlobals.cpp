// Definitions of the driver's globals, constant-initialized so that no constructor is needed.
#include "driver/DriverGlobals.h"

constinit EFI_HANDLE ImageHandle = nullptr;
constinit EFI_SYSTEM_TABLE *SystemTable = nullptr;
constinit EFI_BOOT_SERVICES *BootServices = nullptr;
constinit EFI_RUNTIME_SERVICES *RuntimeServices = nullptr;
constinit EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *ActiveRootBridgeIo = nullptr;
constinit UINT8 SizeIndexCeiling = 0;
constinit UINT32 RebarFunctionCount = 0;
