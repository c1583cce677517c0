// The boot-services table: handle lookup, protocol lookup, pool memory, stalls and the
// watchdog.
#pragma once

#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

// Search types of LocateHandle and LocateHandleBuffer.
enum EFI_LOCATE_SEARCH_TYPE : UINT32 {
  AllHandles = 0,
  ByRegisterNotify = 1,
  ByProtocol = 2,
};

enum EFI_INTERFACE_TYPE : UINT32 {
  EFI_NATIVE_INTERFACE = 0,
};

using EFI_ALLOCATE_POOL = EFI_STATUS(EFIAPI *)(EFI_MEMORY_TYPE PoolType, UINTN Size, void **Buffer);
using EFI_FREE_POOL = EFI_STATUS(EFIAPI *)(void *Buffer);
using EFI_INSTALL_PROTOCOL_INTERFACE = EFI_STATUS(EFIAPI *)(EFI_HANDLE *Handle,
                                                            const EFI_GUID *Protocol,
                                                            EFI_INTERFACE_TYPE InterfaceType,
                                                            void *Interface);
using EFI_HANDLE_PROTOCOL = EFI_STATUS(EFIAPI *)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                                 void **Interface);
using EFI_LOCATE_HANDLE_BUFFER = EFI_STATUS(EFIAPI *)(EFI_LOCATE_SEARCH_TYPE SearchType,
                                                      const EFI_GUID *Protocol, void *SearchKey,
                                                      UINTN *NoHandles, EFI_HANDLE **Buffer);
// Busy-waits at least the given number of microseconds.
using EFI_STALL = EFI_STATUS(EFIAPI *)(UINTN Microseconds);
// Adds, replaces (same GUID) or removes (null Table) an entry of the system table's
// configuration tables.
using EFI_INSTALL_CONFIGURATION_TABLE = EFI_STATUS(EFIAPI *)(const EFI_GUID *Guid, void *Table);
// Arms the watchdog for Timeout seconds (0 disarms it); the code and data go to its log entry.
using EFI_SET_WATCHDOG_TIMER = EFI_STATUS(EFIAPI *)(UINTN Timeout, UINT64 WatchdogCode,
                                                    UINTN DataSize, const CHAR16 *WatchdogData);
// The first interface of Protocol in the handle database, or EFI_NOT_FOUND.
using EFI_LOCATE_PROTOCOL = EFI_STATUS(EFIAPI *)(const EFI_GUID *Protocol, void *Registration,
                                                 void **Interface);

// Members the system does not call are kept as plain pointers so the layout stays exact.
struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  void *RaiseTPL;
  void *RestoreTPL;
  void *AllocatePages;
  void *FreePages;
  void *GetMemoryMap;
  EFI_ALLOCATE_POOL AllocatePool;
  EFI_FREE_POOL FreePool;
  void *CreateEvent;
  void *SetTimer;
  void *WaitForEvent;
  void *SignalEvent;
  void *CloseEvent;
  void *CheckEvent;
  EFI_INSTALL_PROTOCOL_INTERFACE InstallProtocolInterface;
  void *ReinstallProtocolInterface;
  void *UninstallProtocolInterface;
  EFI_HANDLE_PROTOCOL HandleProtocol;
  void *Reserved;
  void *RegisterProtocolNotify;
  void *LocateHandle;
  void *LocateDevicePath;
  EFI_INSTALL_CONFIGURATION_TABLE InstallConfigurationTable;
  void *LoadImage;
  void *StartImage;
  void *Exit;
  void *UnloadImage;
  void *ExitBootServices;
  void *GetNextMonotonicCount;
  EFI_STALL Stall;
  EFI_SET_WATCHDOG_TIMER SetWatchdogTimer;
  void *ConnectController;
  void *DisconnectController;
  void *OpenProtocol;
  void *CloseProtocol;
  void *OpenProtocolInformation;
  void *ProtocolsPerHandle;
  EFI_LOCATE_HANDLE_BUFFER LocateHandleBuffer;
  EFI_LOCATE_PROTOCOL LocateProtocol;
  void *InstallMultipleProtocolInterfaces;
  void *UninstallMultipleProtocolInterfaces;
  void *CalculateCrc32;
  void *CopyMem;
  void *SetMem;
  void *CreateEventEx;
};
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 64);
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == 72);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128);
static_assert(offsetof(EFI_BOOT_SERVICES, HandleProtocol) == 152);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallConfigurationTable) == 192);
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 248);
static_assert(offsetof(EFI_BOOT_SERVICES, SetWatchdogTimer) == 256);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateHandleBuffer) == 312);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320);
static_assert(offsetof(EFI_BOOT_SERVICES, CreateEventEx) == 368);
static_assert(sizeof(EFI_BOOT_SERVICES) == 376);
