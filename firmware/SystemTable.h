// The system table handed to an image's entry point.
#pragma once

#include "firmware/BootServices.h"
#include "firmware/SimpleTextInput.h"
#include "firmware/SimpleTextOutput.h"
#include "firmware/UefiBase.h"

// 8BE4DF61-93CA-11D2-AA0D-00E098032B8C: the vendor GUID of the firmware's global variables
// (SecureBoot, SetupMode).
inline constexpr EFI_GUID EFI_GLOBAL_VARIABLE_GUID = {
    0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};

// Reads variable Name of Vendor into Data (DataSize bytes in, the variable's size out);
// EFI_BUFFER_TOO_SMALL when it does not fit, EFI_NOT_FOUND when there is none.
using EFI_GET_VARIABLE = EFI_STATUS(EFIAPI *)(const CHAR16 *Name, const EFI_GUID *Vendor,
                                              UINT32 *Attributes, UINTN *DataSize, void *Data);

// The runtime-services table, up to GetVariable; members the system does not call are kept as
// plain pointers so the layout stays exact.
struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
  void *GetTime;
  void *SetTime;
  void *GetWakeupTime;
  void *SetWakeupTime;
  void *SetVirtualAddressMap;
  void *ConvertPointer;
  EFI_GET_VARIABLE GetVariable;
};
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == 72);

// One entry of the system table's configuration tables: a table the firmware publishes, named
// by its GUID.
struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  void *VendorTable;
};
static_assert(offsetof(EFI_CONFIGURATION_TABLE, VendorTable) == 16);
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == 24);

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
};
static_assert(offsetof(EFI_SYSTEM_TABLE, FirmwareVendor) == 24);
static_assert(offsetof(EFI_SYSTEM_TABLE, FirmwareRevision) == 32);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConsoleInHandle) == 40);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConIn) == 48);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64);
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88);
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96);
static_assert(offsetof(EFI_SYSTEM_TABLE, NumberOfTableEntries) == 104);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 112);
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120);
