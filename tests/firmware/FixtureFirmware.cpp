// The fixture's firmware facts. The memory-space map comes through a DXE services table of the
// fixture's own, put in the configuration tables under the DXE services GUID (replacing the
// firmware's entry): its GetMemorySpaceMap hands out the dumps' entries, so that the boot image
// reads exactly the facts that rbar-survey reads from the same dumps. Its other services are
// not there.
#include "tests/firmware/FixtureFirmware.h"

#include "firmware/DxeServices.h"
#include "firmware/LegacyBios.h"
#include "tests/firmware/FixtureImage.h"

namespace {

constinit DXE_SERVICES FixtureDxeServices = {};
constinit EFI_BOOT_SERVICES *Services = nullptr;
// The handle the map's allocated entries name, as the firmware names the image that
// allocated them.
constinit EFI_HANDLE Owner = nullptr;
// The Legacy BIOS protocol's interface: nothing calls it.
constinit UINT64 LegacyBiosInterface = 0;

// Hands out the dumps' entries in a pool buffer that the caller frees.
EFI_STATUS EFIAPI FixtureGetMemorySpaceMap(UINTN *Count, EFI_GCD_MEMORY_SPACE_DESCRIPTOR **Map) {
  if (Count == nullptr || Map == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  void *Buffer = nullptr;
  const UINTN Size = FixtureFacts.MmioCount * sizeof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR);
  const EFI_STATUS Status = Services->AllocatePool(EfiBootServicesData, Size, &Buffer);
  if (EfiIsError(Status)) {
    return Status;
  }
  auto *Entries = static_cast<EFI_GCD_MEMORY_SPACE_DESCRIPTOR *>(Buffer);
  for (UINTN Index = 0; Index < FixtureFacts.MmioCount; ++Index) {
    const FixtureMmio &Mmio = FixtureFacts.Mmio[Index];
    EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Entry = Entries[Index];
    Entry.BaseAddress = Mmio.Base;
    Entry.Length = Mmio.Limit - Mmio.Base + 1;
    Entry.Capabilities = EFI_MEMORY_UC;
    Entry.Attributes = 0;
    Entry.GcdMemoryType = EfiGcdMemoryTypeMemoryMappedIo;
    Entry.ImageHandle = Mmio.Allocated ? Owner : nullptr;
    Entry.DeviceHandle = nullptr;
  }
  *Count = FixtureFacts.MmioCount;
  *Map = Entries;
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS InstallFixtureFirmwareFacts(EFI_HANDLE ImageHandle, EFI_BOOT_SERVICES *BootServices) {
  Services = BootServices;
  Owner = ImageHandle;
  if (FixtureFacts.HasMemoryMap) {
    FixtureDxeServices.GetMemorySpaceMap = FixtureGetMemorySpaceMap;
    const EFI_STATUS Status =
        Services->InstallConfigurationTable(&EFI_DXE_SERVICES_TABLE_GUID, &FixtureDxeServices);
    if (EfiIsError(Status)) {
      return Status;
    }
  }
  if (FixtureFacts.InstallsLegacyBios) {
    EFI_HANDLE Handle = nullptr;
    return Services->InstallProtocolInterface(&Handle, &EFI_LEGACY_BIOS_PROTOCOL_GUID,
                                              EFI_NATIVE_INTERFACE, &LegacyBiosInterface);
  }
  return EFI_SUCCESS;
}
