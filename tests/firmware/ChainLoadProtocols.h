// The firmware interfaces the test chain-loader uses beyond the driver's and the boot image's:
// the image services of the boot-services table and the reset service of the runtime-services
// table.
#pragma once

#include "firmware/BootServices.h"
#include "firmware/DevicePath.h"
#include "firmware/LoadedImage.h"
#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

// LoadImage and StartImage, kept as plain pointers in firmware/BootServices.h.
using EFI_IMAGE_LOAD = EFI_STATUS(EFIAPI *)(BOOLEAN BootPolicy, EFI_HANDLE ParentImageHandle,
                                            EFI_DEVICE_PATH_PROTOCOL *DevicePath,
                                            void *SourceBuffer, UINTN SourceSize,
                                            EFI_HANDLE *ImageHandle);
using EFI_IMAGE_START = EFI_STATUS(EFIAPI *)(EFI_HANDLE ImageHandle, UINTN *ExitDataSize,
                                             CHAR16 **ExitData);
static_assert(offsetof(EFI_BOOT_SERVICES, LoadImage) == 200);
static_assert(offsetof(EFI_BOOT_SERVICES, StartImage) == 208);

enum EFI_RESET_TYPE : UINT32 {
  EfiResetCold = 0,
  EfiResetWarm = 1,
  EfiResetShutdown = 2,
};
using EFI_RESET_SYSTEM = void(EFIAPI *)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus,
                                        UINTN DataSize, void *ResetData);

// The runtime-services table up to ResetSystem (firmware/SystemTable.h declares its header
// only). Members the chain-loader does not call are kept as plain pointers.
struct EFI_RUNTIME_SERVICES_TO_RESET {
  EFI_TABLE_HEADER Hdr;
  void *GetTime;
  void *SetTime;
  void *GetWakeupTime;
  void *SetWakeupTime;
  void *SetVirtualAddressMap;
  void *ConvertPointer;
  void *GetVariable;
  void *GetNextVariableName;
  void *SetVariable;
  void *GetNextHighMonotonicCount;
  EFI_RESET_SYSTEM ResetSystem;
};
static_assert(offsetof(EFI_RUNTIME_SERVICES_TO_RESET, ResetSystem) == 104);
