// A root bridge of the test fixture: the PCI root bridge I/O protocol over a configuration
// image held in the fixture image's own data.
#pragma once

#include "firmware/AcpiDescriptors.h"
#include "firmware/PciRootBridgeIo.h"
#include "tests/firmware/FixtureImage.h"

// Room for the resource descriptors of one bridge: I/O, bus numbers, the memory ranges, then the
// end tag.
inline constexpr UINTN FIXTURE_DESCRIPTOR_COUNT = 2 + FIXTURE_MAX_ALLOCATED;
inline constexpr UINTN FIXTURE_DESCRIPTOR_LIST_SIZE =
    FIXTURE_DESCRIPTOR_COUNT * ACPI_QWORD_DESCRIPTOR_SIZE + ACPI_END_TAG_SIZE;

// The protocol comes first, so that the interface pointer a caller holds is the bridge's.
struct FixtureRootBridge {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL Protocol;
  const FixtureBridgeImage *Image;
  UINT8 Descriptors[FIXTURE_DESCRIPTOR_LIST_SIZE];
};

// Pci.Read: one element of 8, 16 or 32 bits from the bridge's configuration image.
EFI_STATUS EFIAPI FixturePciRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                 EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address,
                                 UINTN Count, void *Buffer);
