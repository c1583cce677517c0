// Firmware queries: each call's result checked, each pool buffer freed where it was obtained,
// and every list walked within a fixed bound.
#include "boot/FirmwareQueries.h"

#include "firmware/DxeServices.h"
#include "firmware/LegacyBios.h"
#include "firmware/PciRootBridgeIo.h"

namespace {

// The one-byte values of the SecureBoot and SetupMode variables that mean "yes".
constexpr UINT8 VARIABLE_SET = 1;

// Reads a one-byte global variable; false when there is none or it is not one byte.
bool ReadByteVariable(const EFI_SYSTEM_TABLE &Table, const CHAR16 *Name, UINT8 &Value) {
  const EFI_RUNTIME_SERVICES *Runtime = Table.RuntimeServices;
  if (Runtime == nullptr || Runtime->GetVariable == nullptr) {
    return false;
  }
  UINT8 Data = 0;
  UINTN Size = sizeof(Data);
  const EFI_STATUS Status =
      Runtime->GetVariable(Name, &EFI_GLOBAL_VARIABLE_GUID, nullptr, &Size, &Data);
  if (EfiIsError(Status) || Size != sizeof(Data)) {
    return false;
  }
  Value = Data;
  return true;
}

SecureBootState ReadSecureBoot(const EFI_SYSTEM_TABLE &Table) {
  UINT8 SetupMode = 0;
  if (ReadByteVariable(Table, u"SetupMode", SetupMode) && SetupMode == VARIABLE_SET) {
    return SecureBootState::SetupMode;
  }
  UINT8 SecureBoot = 0;
  if (!ReadByteVariable(Table, u"SecureBoot", SecureBoot)) {
    return SecureBootState::Unknown;
  }
  return SecureBoot == VARIABLE_SET ? SecureBootState::On : SecureBootState::Off;
}

bool LegacyBiosPresent(const EFI_SYSTEM_TABLE &Table) {
  const EFI_BOOT_SERVICES *Services = Table.BootServices;
  if (Services == nullptr || Services->LocateProtocol == nullptr) {
    return false;
  }
  void *Interface = nullptr;
  return !EfiIsError(
             Services->LocateProtocol(&EFI_LEGACY_BIOS_PROTOCOL_GUID, nullptr, &Interface)) &&
         Interface != nullptr;
}

// Adds each root bridge the firmware hands out with its descriptors.
void ReadRootBridges(const EFI_BOOT_SERVICES &Services, FirmwareFacts &Facts) {
  UINTN HandleCount = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EfiIsError(Services.LocateHandleBuffer(ByProtocol, &EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID,
                                             nullptr, &HandleCount, &Handles))) {
    return;
  }
  for (UINTN Index = 0; Handles != nullptr && Index < HandleCount; ++Index) {
    void *Interface = nullptr;
    if (EfiIsError(Services.HandleProtocol(Handles[Index], &EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID,
                                           &Interface)) ||
        Interface == nullptr) {
      continue;
    }
    auto *Bridge = static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *>(Interface);
    void *Resources = nullptr;
    if (EfiIsError(Bridge->Configuration(Bridge, &Resources)) || Resources == nullptr) {
      AddRootBridge(Facts, Bridge->SegmentNumber, 0, UINT8{0xFF}, false);
      continue;
    }
    AddRootBridgeDescriptors(Facts, Bridge->SegmentNumber, static_cast<const UINT8 *>(Resources),
                             DESCRIPTOR_LIST_BYTES_READ);
  }
  if (Handles != nullptr) {
    Services.FreePool(Handles);
  }
}

// The DXE services table among Table's configuration tables, or null.
const DXE_SERVICES *FindDxeServices(const EFI_SYSTEM_TABLE &Table) {
  if (Table.ConfigurationTable == nullptr) {
    return nullptr;
  }
  for (UINTN Index = 0; Index < Table.NumberOfTableEntries && Index < CONFIGURATION_TABLES_READ;
       ++Index) {
    const EFI_CONFIGURATION_TABLE &Entry = Table.ConfigurationTable[Index];
    if (GuidsEqual(Entry.VendorGuid, EFI_DXE_SERVICES_TABLE_GUID)) {
      return static_cast<const DXE_SERVICES *>(Entry.VendorTable);
    }
  }
  return nullptr;
}

// Adds the map's memory-mapped I/O entries, or marks the map absent or unknown; Services frees
// the map's buffer.
void ReadMemorySpaceMap(const EFI_SYSTEM_TABLE &Table, const EFI_BOOT_SERVICES &Services,
                        FirmwareFacts &Facts) {
  const DXE_SERVICES *Dxe = FindDxeServices(Table);
  if (Dxe == nullptr || Dxe->GetMemorySpaceMap == nullptr) {
    Facts.MemoryMap = MemoryMapState::Absent;
    return;
  }
  Facts.MemoryMap = MemoryMapState::Unknown;
  UINTN Count = 0;
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Map = nullptr;
  if (EfiIsError(Dxe->GetMemorySpaceMap(&Count, &Map)) || Map == nullptr) {
    return;
  }
  if (Count <= MEMORY_SPACE_ENTRIES_READ) {
    Facts.MemoryMap = MemoryMapState::Read;
    for (UINTN Index = 0; Index < Count; ++Index) {
      const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Entry = Map[Index];
      if (Entry.GcdMemoryType != EfiGcdMemoryTypeMemoryMappedIo) {
        continue;
      }
      // An empty entry, or one that runs past the top of the address space, is malformed.
      if (Entry.Length == 0 || Entry.BaseAddress + (Entry.Length - 1) < Entry.BaseAddress) {
        Facts.MemoryMap = MemoryMapState::Unknown;
        break;
      }
      const AddressRange Range = {Entry.BaseAddress, Entry.BaseAddress + (Entry.Length - 1)};
      if (!AddMmioEntry(Facts, Range, Entry.ImageHandle != nullptr)) {
        break;
      }
    }
  }
  Services.FreePool(Map);
}

} // namespace

PlatformFacts ReadPlatformFacts(const EFI_SYSTEM_TABLE &Table) {
  PlatformFacts Facts = {};
  Facts.FirmwareVendor = Table.FirmwareVendor;
  Facts.FirmwareRevision = Table.FirmwareRevision;
  Facts.UefiRevision = Table.Hdr.Revision;
  Facts.CsmLoaded = LegacyBiosPresent(Table);
  Facts.SecureBoot = ReadSecureBoot(Table);
  return Facts;
}

void ReadFirmwareFacts(const EFI_SYSTEM_TABLE &Table, FirmwareFacts &Facts) {
  ClearFirmwareFacts(Facts);
  if (Table.BootServices == nullptr) {
    Facts.MemoryMap = MemoryMapState::Unknown;
    return;
  }
  ReadRootBridges(*Table.BootServices, Facts);
  ReadMemorySpaceMap(Table, *Table.BootServices, Facts);
}
