// Base types of the UEFI environment: integer widths, handles, GUIDs, times, memory types
// and the calling convention that every firmware function pointer carries.
#pragma once

#include <stddef.h>
#include <stdint.h>

using UINT8 = uint8_t;
using UINT16 = uint16_t;
using UINT32 = uint32_t;
using UINT64 = uint64_t;
using INT8 = int8_t;
using INT16 = int16_t;
using INT32 = int32_t;
using INT64 = int64_t;
using UINTN = uint64_t;
using INTN = int64_t;
using BOOLEAN = uint8_t;
using CHAR8 = char;
using CHAR16 = char16_t;
using VOID = void;
using EFI_HANDLE = void *;
using EFI_EVENT = void *;
using EFI_TPL = UINTN;
using EFI_PHYSICAL_ADDRESS = UINT64;

static_assert(sizeof(CHAR16) == 2, "UCS-2 code units are 16 bits");
static_assert(sizeof(UINTN) == sizeof(void *), "64-bit targets only");

// Calling convention of every firmware interface. On x86-64 it is the Microsoft x64
// convention: native on the EFI target, and on the Linux host the same declarations need the
// attribute so that the hosted platform's tables are called exactly as firmware tables are.
// AArch64 firmware uses the standard procedure call convention, which is every compiler's
// default there. A macro, as an attribute cannot be named by a constant or an alias.
#if defined(__x86_64__)
#define EFIAPI __attribute__((ms_abi))
#elif defined(__aarch64__)
#define EFIAPI
#else
#error "firmware interfaces are declared for x86-64 and AArch64 only"
#endif

// 128-bit identifier, stored little-endian in its first three fields.
struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16);
static_assert(offsetof(EFI_GUID, Data4) == 8);

constexpr bool GuidsEqual(const EFI_GUID &A, const EFI_GUID &B) {
  if (A.Data1 != B.Data1 || A.Data2 != B.Data2 || A.Data3 != B.Data3) {
    return false;
  }
  for (int I = 0; I < 8; ++I) {
    if (A.Data4[I] != B.Data4[I]) {
      return false;
    }
  }
  return true;
}

// Calendar time as the firmware keeps it.
struct EFI_TIME {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
};
static_assert(sizeof(EFI_TIME) == 16);
static_assert(offsetof(EFI_TIME, Month) == 2);
static_assert(offsetof(EFI_TIME, Day) == 3);
static_assert(offsetof(EFI_TIME, Hour) == 4);
static_assert(offsetof(EFI_TIME, Minute) == 5);
static_assert(offsetof(EFI_TIME, Nanosecond) == 8);

// Common header of the system, boot-services and runtime-services tables.
struct EFI_TABLE_HEADER {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24);

// Pool and page memory types.
enum EFI_MEMORY_TYPE : UINT32 {
  EfiReservedMemoryType = 0,
  EfiLoaderCode = 1,
  EfiLoaderData = 2,
  EfiBootServicesCode = 3,
  EfiBootServicesData = 4,
  EfiRuntimeServicesCode = 5,
  EfiRuntimeServicesData = 6,
};
