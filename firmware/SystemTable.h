// The system table handed to an image's entry point.
#pragma once

#include "firmware/BootServices.h"
#include "firmware/SimpleTextInput.h"
#include "firmware/SimpleTextOutput.h"
#include "firmware/UefiBase.h"

// The runtime-services table; the system only records its address.
struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
};

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
  void *ConfigurationTable;
};
static_assert(offsetof(EFI_SYSTEM_TABLE, FirmwareVendor) == 24);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConsoleInHandle) == 40);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConIn) == 48);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64);
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88);
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96);
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120);
