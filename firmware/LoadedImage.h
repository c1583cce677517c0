// The loaded image protocol: what the firmware knows of a started image, on its image handle.
#pragma once

#include "firmware/DevicePath.h"
#include "firmware/SystemTable.h"
#include "firmware/UefiBase.h"

// 5B1B31A1-9562-11D2-8E3F-00A0C969723B
inline constexpr EFI_GUID EFI_LOADED_IMAGE_PROTOCOL_GUID = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// Members the system does not use are kept as plain pointers so the layout stays exact.
struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  // The device the image was loaded from, and the image's path on it (for an image on a file
  // system, file path nodes such as \EFI\BOOT\BOOTX64.EFI).
  EFI_HANDLE DeviceHandle;
  const EFI_DEVICE_PATH_PROTOCOL *FilePath;
  void *Reserved;
  // The load options the image was started with (a boot option's optional data, a shell's
  // command line), as bytes: neither their encoding nor their alignment is promised.
  UINT32 LoadOptionsSize;
  const void *LoadOptions;
  void *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  void *Unload;
};
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, ParentHandle) == 8);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, FilePath) == 32);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, LoadOptionsSize) == 48);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, LoadOptions) == 56);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageSize) == 72);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, Unload) == 88);
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96);
