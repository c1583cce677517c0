// Root-bridge walk: every handle that carries the root bridge protocol, every bus-number
// descriptor that the bridge's resource list holds.
#include "driver/ScanRootBridges.h"

#include "driver/DriverGlobals.h"
#include "driver/ScanBusRange.h"
#include "firmware/AcpiDescriptors.h"

// Reads a little-endian 16-bit value from an unaligned descriptor field.
static UINT16 ReadLe16(const UINT8 *Field) {
  return static_cast<UINT16>(Field[0] | (Field[1] << 8));
}

void ScanBusDescriptors(const UINT8 *Descriptors) {
  const UINT8 *Cursor = Descriptors;
  while (Cursor != nullptr && Cursor[ACPI_DESCRIPTOR_TAG] != ACPI_END_TAG_DESCRIPTOR) {
    const UINT8 *Descriptor = Cursor;
    // Descriptors are stepped by their fixed size; the length field is not trusted.
    Cursor += ACPI_QWORD_DESCRIPTOR_SIZE;
    if (Descriptor[ACPI_DESCRIPTOR_RESOURCE_TYPE] == ACPI_ADDRESS_SPACE_TYPE_BUS) {
      // Only the maximum counts: every scan starts at bus 0.
      ScanBusRange(ReadLe16(Descriptor + ACPI_DESCRIPTOR_RANGE_MAXIMUM));
    }
  }
}

void ScanRootBridges() {
  UINTN HandleCount = 0;
  EFI_HANDLE *Handles = nullptr;
  const EFI_STATUS Located = BootServices->LocateHandleBuffer(
      ByProtocol, &EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID, nullptr, &HandleCount, &Handles);
  if (EfiIsError(Located)) {
    return;
  }

  for (UINTN Index = 0; Handles != nullptr && Index < HandleCount; ++Index) {
    void *Interface = nullptr;
    if (EfiIsError(BootServices->HandleProtocol(
            Handles[Index], &EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID, &Interface)) ||
        Interface == nullptr) {
      continue;
    }
    ActiveRootBridgeIo = static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *>(Interface);

    void *Resources = nullptr;
    if (EfiIsError(ActiveRootBridgeIo->Configuration(ActiveRootBridgeIo, &Resources))) {
      continue;
    }
    ScanBusDescriptors(static_cast<const UINT8 *>(Resources));
  }

  // A successful search that handed back no buffer leaves nothing to free.
  if (Handles != nullptr) {
    BootServices->FreePool(Handles);
  }
}
