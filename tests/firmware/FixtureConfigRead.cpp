// Configuration reads of a fixture root bridge, served from its configuration image. They
// answer as OVMF's own bridge does: nothing there reads as all ones with success, a read that
// the configuration space cannot hold fails and leaves the buffer untouched.
#include "tests/firmware/FixtureRootBridge.h"

namespace {

// Fields of a root bridge PCI address.
inline constexpr UINT64 PCI_ADDRESS_REGISTER_MASK = 0xFF;
inline constexpr UINT64 PCI_ADDRESS_FUNCTION_SHIFT = 8;
inline constexpr UINT64 PCI_ADDRESS_DEVICE_SHIFT = 16;
inline constexpr UINT64 PCI_ADDRESS_BUS_SHIFT = 24;
inline constexpr UINT64 PCI_ADDRESS_FIELD_MASK = 0xFF;
// Bits 32-63: the extended register, used instead of the register field when not zero.
inline constexpr UINT64 PCI_ADDRESS_EXTENDED_REGISTER_SHIFT = 32;

// Size of one function's configuration space.
inline constexpr UINT64 PCI_CONFIG_SPACE_SIZE = 0x1000;
inline constexpr UINT64 PCI_LAST_DEVICE = 31;
inline constexpr UINT64 PCI_LAST_FUNCTION = 7;

// What a read finds where no function answers.
inline constexpr UINT32 PCI_ABSENT_VALUE = 0xFFFFFFFF;

// Bytes of one element of Width, or 0 for the widths a fixture bridge does not serve.
UINT64 ElementBytes(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width) {
  const UINT64 Bytes = PciWidthBytes(Width);
  return Bytes <= sizeof(UINT32) ? Bytes : 0;
}

// The function at Bus/Device/Function in Image, or null when none answers there.
const FixtureFunction *FindFunction(const FixtureBridgeImage &Image, UINT64 Bus, UINT64 Device,
                                    UINT64 Function) {
  if (Bus > Image.BusMaximum) {
    return nullptr;
  }
  for (UINTN Index = 0; Index < Image.FunctionCount; ++Index) {
    const FixtureFunction &Candidate = Image.Functions[Index];
    if (Candidate.Bus == Bus && Candidate.Device == Device && Candidate.Function == Function) {
      return &Candidate;
    }
  }
  return nullptr;
}

// Stores the low Bytes bytes of Value as one element at Buffer.
void StoreElement(void *Buffer, UINT64 Bytes, UINT32 Value) {
  switch (Bytes) {
  case 1:
    *static_cast<UINT8 *>(Buffer) = static_cast<UINT8>(Value);
    break;
  case 2:
    *static_cast<UINT16 *>(Buffer) = static_cast<UINT16>(Value);
    break;
  default:
    *static_cast<UINT32 *>(Buffer) = Value;
    break;
  }
}

// The little-endian value of Bytes bytes at Offset of Function's configuration space.
UINT32 LoadElement(const FixtureFunction &Function, UINT64 Offset, UINT64 Bytes) {
  UINT32 Value = 0;
  for (UINT64 Index = Bytes; Index > 0; --Index) {
    Value = (Value << 8) | Function.Bytes[Offset + Index - 1];
  }
  return Value;
}

} // namespace

EFI_STATUS EFIAPI FixturePciRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                 EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address,
                                 UINTN Count, void *Buffer) {
  if (This == nullptr || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // Only what the survey asks for: one element of 8, 16 or 32 bits.
  UINT64 Bytes = ElementBytes(Width);
  if (Bytes == 0 || Count != 1) {
    return EFI_UNSUPPORTED;
  }

  UINT64 Offset = Address >> PCI_ADDRESS_EXTENDED_REGISTER_SHIFT;
  if (Offset == 0) {
    Offset = Address & PCI_ADDRESS_REGISTER_MASK;
  }
  UINT64 Function = (Address >> PCI_ADDRESS_FUNCTION_SHIFT) & PCI_ADDRESS_FIELD_MASK;
  UINT64 Device = (Address >> PCI_ADDRESS_DEVICE_SHIFT) & PCI_ADDRESS_FIELD_MASK;
  UINT64 Bus = (Address >> PCI_ADDRESS_BUS_SHIFT) & PCI_ADDRESS_FIELD_MASK;
  // A read that crosses the end of configuration space names no register at all.
  if (Offset + Bytes > PCI_CONFIG_SPACE_SIZE || Device > PCI_LAST_DEVICE ||
      Function > PCI_LAST_FUNCTION) {
    return EFI_INVALID_PARAMETER;
  }

  const auto *Bridge = reinterpret_cast<const FixtureRootBridge *>(This);
  const FixtureFunction *Present = FindFunction(*Bridge->Image, Bus, Device, Function);
  if (Present == nullptr) {
    StoreElement(Buffer, Bytes, PCI_ABSENT_VALUE);
    return EFI_SUCCESS;
  }
  // Bytes the dump did not capture are unknown: fail rather than invent them.
  if (Offset + Bytes > Present->Size) {
    return EFI_DEVICE_ERROR;
  }
  StoreElement(Buffer, Bytes, LoadElement(*Present, Offset, Bytes));
  return EFI_SUCCESS;
}
