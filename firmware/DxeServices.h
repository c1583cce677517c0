// The DXE services table, which firmware built on the platform-initialization model publishes
// among the system table's configuration tables: its memory-space map (every range of the
// processor's address space, its kind, and whether something allocated it) and the calls that
// add and allocate ranges in it.
#pragma once

#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

// 05AD34BA-6F02-4214-952E-4DA0398E2BB9: the configuration table that holds the DXE services.
inline constexpr EFI_GUID EFI_DXE_SERVICES_TABLE_GUID = {
    0x05AD34BA, 0x6F02, 0x4214, {0x95, 0x2E, 0x4D, 0xA0, 0x39, 0x8E, 0x2B, 0xB9}};

// Kind of a memory-space range.
enum EFI_GCD_MEMORY_TYPE : UINT32 {
  EfiGcdMemoryTypeNonExistent = 0,
  EfiGcdMemoryTypeReserved = 1,
  EfiGcdMemoryTypeSystemMemory = 2,
  EfiGcdMemoryTypeMemoryMappedIo = 3,
  EfiGcdMemoryTypePersistent = 4,
  EfiGcdMemoryTypeMoreReliable = 5,
};
static_assert(sizeof(EFI_GCD_MEMORY_TYPE) == 4);

// How AllocateMemorySpace places a range; the system uses only the given address.
enum EFI_GCD_ALLOCATE_TYPE : UINT32 {
  EfiGcdAllocateAnySearchBottomUp = 0,
  EfiGcdAllocateMaxAddressSearchBottomUp = 1,
  EfiGcdAllocateAddress = 2,
};

// Capability bit of a range that can be mapped uncached.
inline constexpr UINT64 EFI_MEMORY_UC = 0x1;

// One range of the memory-space map. ImageHandle is set once something allocated the range.
struct EFI_GCD_MEMORY_SPACE_DESCRIPTOR {
  EFI_PHYSICAL_ADDRESS BaseAddress;
  UINT64 Length;
  UINT64 Capabilities;
  UINT64 Attributes;
  EFI_GCD_MEMORY_TYPE GcdMemoryType;
  EFI_HANDLE ImageHandle;
  EFI_HANDLE DeviceHandle;
};
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, Length) == 8);
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, Attributes) == 24);
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, GcdMemoryType) == 32);
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, ImageHandle) == 40);
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, DeviceHandle) == 48);
static_assert(sizeof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR) == 56);

// Adds Length bytes at BaseAddress to the map as a range of the given kind.
using EFI_ADD_MEMORY_SPACE = EFI_STATUS(EFIAPI *)(EFI_GCD_MEMORY_TYPE GcdMemoryType,
                                                  EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length,
                                                  UINT64 Capabilities);
// Allocates Length bytes of a range of the given kind for ImageHandle; with
// EfiGcdAllocateAddress, exactly at *BaseAddress.
using EFI_ALLOCATE_MEMORY_SPACE = EFI_STATUS(EFIAPI *)(EFI_GCD_ALLOCATE_TYPE GcdAllocateType,
                                                       EFI_GCD_MEMORY_TYPE GcdMemoryType,
                                                       UINTN Alignment, UINT64 Length,
                                                       EFI_PHYSICAL_ADDRESS *BaseAddress,
                                                       EFI_HANDLE ImageHandle,
                                                       EFI_HANDLE DeviceHandle);
// Hands out the whole map in one pool buffer that the caller frees.
using EFI_GET_MEMORY_SPACE_MAP = EFI_STATUS(EFIAPI *)(
    UINTN *NumberOfDescriptors, EFI_GCD_MEMORY_SPACE_DESCRIPTOR **MemorySpaceMap);

// Members the system does not call are kept as plain pointers so the layout stays exact.
struct DXE_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_ADD_MEMORY_SPACE AddMemorySpace;
  EFI_ALLOCATE_MEMORY_SPACE AllocateMemorySpace;
  void *FreeMemorySpace;
  void *RemoveMemorySpace;
  void *GetMemorySpaceDescriptor;
  void *SetMemorySpaceAttributes;
  EFI_GET_MEMORY_SPACE_MAP GetMemorySpaceMap;
};
static_assert(offsetof(DXE_SERVICES, AddMemorySpace) == 24);
static_assert(offsetof(DXE_SERVICES, AllocateMemorySpace) == 32);
static_assert(offsetof(DXE_SERVICES, GetMemorySpaceMap) == 72);
