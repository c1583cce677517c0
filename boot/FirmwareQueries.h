// What the boot image asks the firmware before the report, read-only and bounded: who made it
// and which UEFI revision it follows, whether a compatibility support module is loaded, the
// Secure Boot state, and what it says of each root bridge's memory (its Configuration()
// descriptors and the memory-mapped I/O entries of the memory-space map).
#pragma once

#include "firmware/SystemTable.h"
#include "verdict/FirmwareFacts.h"

// Bytes of a root bridge's descriptor list looked at: room for 32 QWORD descriptors and the end
// tag. A list without its end tag within them is taken as malformed.
inline constexpr UINTN DESCRIPTOR_LIST_BYTES_READ = 32 * 46 + 2;
// Entries of the memory-space map looked at; a longer map is taken as unknown.
inline constexpr UINTN MEMORY_SPACE_ENTRIES_READ = 4096;
// Configuration tables looked at for the DXE services.
inline constexpr UINTN CONFIGURATION_TABLES_READ = 256;

enum class SecureBootState : UINT8 {
  // The firmware keeps no SecureBoot variable (or it could not be read).
  Unknown,
  Off,
  On,
  // No platform key enrolled: Secure Boot is off until one is.
  SetupMode,
};

struct PlatformFacts {
  // The firmware vendor's name as the system table holds it (null: none), and its revision.
  const CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  // The UEFI revision the system table says it follows: major in the high 16 bits, minor (as
  // 2.70 is 70) in the low.
  UINT32 UefiRevision;
  // The Legacy BIOS protocol is there: a compatibility support module is loaded.
  bool CsmLoaded;
  SecureBootState SecureBoot;
};

// Reads the platform facts of Table.
PlatformFacts ReadPlatformFacts(const EFI_SYSTEM_TABLE &Table);

// Fills Facts (cleared first) with each root bridge's descriptors, in the order the firmware
// hands the bridges out, and the memory-space map's memory-mapped I/O entries: map absent
// without a DXE services table, unknown when it cannot be read or holds more than
// MEMORY_SPACE_ENTRIES_READ entries.
void ReadFirmwareFacts(const EFI_SYSTEM_TABLE &Table, FirmwareFacts &Facts);
