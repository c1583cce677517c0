// Configuration-space reads: one element of 8, 16 or 32 bits through the active root bridge.
#include "driver/PciConfigAccess.h"

#include "driver/DriverGlobals.h"

static_assert(PciFunctionBase(0, 3, 2) == 0x00030200);
static_assert(PciRegisterAddress(PciFunctionBase(0, 3, 2), 0x34) == 0x00030234);
static_assert(PciRegisterAddress(PciFunctionBase(0, 3, 2) | 7, 0x34) == 0x00030234);
static_assert(PciRegisterAddress(PciFunctionBase(1, 0, 0), 0x100) == 0x0000010001000000);
static_assert(PciRegisterAddress(PciFunctionBase(1, 0, 0), 0xFFC) == 0x00000FFC01000000);

// Reads one element of Width at register Offset of the function at Base.
static EFI_STATUS PciConfigRead(PciConfigAddress Base, UINT64 Offset,
                                EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, void *Dest) {
  return ActiveRootBridgeIo->Pci.Read(ActiveRootBridgeIo, Width, PciRegisterAddress(Base, Offset),
                                      1, Dest);
}

EFI_STATUS PciConfigRead8(PciConfigAddress Base, UINT64 Offset, UINT8 *Dest) {
  return PciConfigRead(Base, Offset, EfiPciWidthUint8, Dest);
}

EFI_STATUS PciConfigRead16(PciConfigAddress Base, UINT64 Offset, UINT16 *Dest) {
  return PciConfigRead(Base, Offset, EfiPciWidthUint16, Dest);
}

EFI_STATUS PciConfigRead32(PciConfigAddress Base, UINT64 Offset, UINT32 *Dest) {
  return PciConfigRead(Base, Offset, EfiPciWidthUint32, Dest);
}
