// The PCI root bridge I/O protocol: configuration-space access and resource descriptors of one
// root bridge.
#pragma once

#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

// 2F707EBB-4A1A-11D4-9A38-0090273FC14D
inline constexpr EFI_GUID EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID = {
    0x2F707EBB, 0x4A1A, 0x11D4, {0x9A, 0x38, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};

// Width of each element of an access.
enum EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH : UINT32 {
  EfiPciWidthUint8 = 0,
  EfiPciWidthUint16 = 1,
  EfiPciWidthUint32 = 2,
  EfiPciWidthUint64 = 3,
  EfiPciWidthFifoUint8 = 4,
  EfiPciWidthFifoUint16 = 5,
  EfiPciWidthFifoUint32 = 6,
  EfiPciWidthFifoUint64 = 7,
  EfiPciWidthFillUint8 = 8,
  EfiPciWidthFillUint16 = 9,
  EfiPciWidthFillUint32 = 10,
  EfiPciWidthFillUint64 = 11,
  EfiPciWidthMaximum = 12,
};
static_assert(sizeof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH) == 4);

// Bytes of one element of the plain widths, 8 to 64 bits; 0 for the FIFO and fill widths.
constexpr UINTN PciWidthBytes(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width) {
  return Width <= EfiPciWidthUint64 ? UINTN{1} << Width : 0;
}
static_assert(PciWidthBytes(EfiPciWidthUint8) == 1 && PciWidthBytes(EfiPciWidthUint32) == 4 &&
              PciWidthBytes(EfiPciWidthUint64) == 8 && PciWidthBytes(EfiPciWidthFifoUint8) == 0);

struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL;

// Reads or writes Count elements of the given width at Address.
using EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM = EFI_STATUS(EFIAPI *)(
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
    UINT64 Address, UINTN Count, void *Buffer);

// Returns the bridge's ACPI resource descriptor list, owned by the bridge.
using EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_CONFIGURATION =
    EFI_STATUS(EFIAPI *)(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, void **Resources);

struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM Read;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM Write;
};

// Members the system does not call are kept as plain pointers so the layout stays exact.
struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL {
  EFI_HANDLE ParentHandle;
  void *PollMem;
  void *PollIo;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS Mem;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS Io;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS Pci;
  void *CopyMem;
  void *Map;
  void *Unmap;
  void *AllocateBuffer;
  void *FreeBuffer;
  void *Flush;
  void *GetAttributes;
  void *SetAttributes;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_CONFIGURATION Configuration;
  UINT32 SegmentNumber;
};
static_assert(offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Mem) == 24);
static_assert(offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Io) == 40);
static_assert(offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Pci) == 56);
static_assert(offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Pci) +
                  offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS, Write) ==
              64);
static_assert(offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Configuration) == 136);
static_assert(offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, SegmentNumber) == 144);
static_assert(sizeof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL) == 152);
