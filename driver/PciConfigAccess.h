// Configuration-space reads through the active root bridge.
#pragma once

#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

// Bus, device, function and register of a configuration access, in the root bridge
// protocol's layout: bits 0-7 register, 8-15 function, 16-23 device, 24-31 bus, 32-63
// extended register.
using PciConfigAddress = UINT64;

// Address fields.
inline constexpr PciConfigAddress PCI_ADDRESS_REGISTER_MASK = 0x00000000000000FFULL;
inline constexpr PciConfigAddress PCI_ADDRESS_BUS_DEVICE_FUNCTION_MASK = 0x00000000FFFFFF00ULL;
inline constexpr UINT32 PCI_ADDRESS_EXTENDED_REGISTER_SHIFT = 32;
inline constexpr UINT32 PCI_ADDRESS_FUNCTION_SHIFT = 8;
inline constexpr UINT32 PCI_ADDRESS_DEVICE_SHIFT = 16;
inline constexpr UINT32 PCI_ADDRESS_BUS_SHIFT = 24;
// First register offset that needs the extended-register field.
inline constexpr UINT64 PCI_FIRST_EXTENDED_REGISTER = 0x100;

// The base address of a function: register 0, extended register 0.
constexpr PciConfigAddress PciFunctionBase(UINT32 Bus, UINT32 Device, UINT32 Function) {
  return (static_cast<PciConfigAddress>(Bus) << PCI_ADDRESS_BUS_SHIFT) |
         (static_cast<PciConfigAddress>(Device) << PCI_ADDRESS_DEVICE_SHIFT) |
         (static_cast<PciConfigAddress>(Function) << PCI_ADDRESS_FUNCTION_SHIFT);
}

// The address of register Offset of the function at Base. An extended register already in
// Base is added to Offset; offsets below 0x100 go into the register byte, larger ones into the
// extended-register half.
constexpr PciConfigAddress PciRegisterAddress(PciConfigAddress Base, UINT64 Offset) {
  const UINT64 Register = Offset + (Base >> PCI_ADDRESS_EXTENDED_REGISTER_SHIFT);
  const PciConfigAddress Function = Base & PCI_ADDRESS_BUS_DEVICE_FUNCTION_MASK;
  if (Register < PCI_FIRST_EXTENDED_REGISTER) {
    return Function | Register;
  }
  return Function | (Register << PCI_ADDRESS_EXTENDED_REGISTER_SHIFT);
}

// Each read takes the function's base, a register offset and the destination, reads one
// element of its width through ActiveRootBridgeIo and returns the bridge's status unchanged.
// The destination keeps its value when the bridge does not write it.
EFI_STATUS PciConfigRead8(PciConfigAddress Base, UINT64 Offset, UINT8 *Dest);
EFI_STATUS PciConfigRead16(PciConfigAddress Base, UINT64 Offset, UINT16 *Dest);
EFI_STATUS PciConfigRead32(PciConfigAddress Base, UINT64 Offset, UINT32 *Dest);
