// The header capture: fixed arrays, filled by dword reads of registers 0x00 to 0x3C.
#include "boot/HeaderCapture.h"

#include "driver/PciConfigAccess.h"

namespace {

constexpr UINT64 ADDRESS_BUS_MASK = 0xFF;
constexpr UINT64 ADDRESS_DEVICE_MASK = 0x1F;
constexpr UINT64 ADDRESS_FUNCTION_MASK = 0x07;
// What a read that failed leaves: all ones, as an absent register reads.
constexpr UINT32 ABSENT_DWORD = 0xFFFFFFFFU;

struct Capture {
  FunctionHeader Functions[CAPTURED_FUNCTIONS_MAX];
  UINT8 Bytes[CAPTURED_FUNCTIONS_MAX][CAPTURED_HEADER_BYTES];
  UINTN Count;
};
// In the firmware's pool while the survey runs: zeros in the image would cost its file as much.
constinit Capture *Captured = nullptr;

} // namespace

void StartHeaderCapture(const EFI_BOOT_SERVICES &Services) {
  void *Storage = nullptr;
  if (Captured == nullptr &&
      !EfiIsError(Services.AllocatePool(EfiBootServicesData, sizeof(Capture), &Storage))) {
    Captured = static_cast<Capture *>(Storage);
    Captured->Count = 0;
  }
}

void EndHeaderCapture(const EFI_BOOT_SERVICES &Services) {
  if (Captured != nullptr) {
    Services.FreePool(Captured);
    Captured = nullptr;
  }
}

void ClearHeaderCapture() {
  if (Captured != nullptr) {
    Captured->Count = 0;
  }
}

void CaptureHeader(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge, UINT32 Segment, UINT64 Address) {
  const auto Bus = static_cast<UINT8>((Address >> PCI_ADDRESS_BUS_SHIFT) & ADDRESS_BUS_MASK);
  const auto Device =
      static_cast<UINT8>((Address >> PCI_ADDRESS_DEVICE_SHIFT) & ADDRESS_DEVICE_MASK);
  const auto Function =
      static_cast<UINT8>((Address >> PCI_ADDRESS_FUNCTION_SHIFT) & ADDRESS_FUNCTION_MASK);
  if (Captured == nullptr || Captured->Count == CAPTURED_FUNCTIONS_MAX ||
      FindCapturedFunction(Segment, Bus, Device, Function) != nullptr) {
    return;
  }
  UINT8 *Bytes = Captured->Bytes[Captured->Count];
  const PciConfigAddress Base = PciFunctionBase(Bus, Device, Function);
  for (UINTN Offset = 0; Offset < CAPTURED_HEADER_BYTES; Offset += sizeof(UINT32)) {
    UINT32 Value = ABSENT_DWORD;
    if (EfiIsError(Bridge->Pci.Read(Bridge, EfiPciWidthUint32, PciRegisterAddress(Base, Offset), 1,
                                    &Value))) {
      Value = ABSENT_DWORD;
    }
    for (UINTN Byte = 0; Byte < sizeof(UINT32); ++Byte) {
      Bytes[Offset + Byte] = static_cast<UINT8>(Value >> (BITS_PER_BYTE * Byte));
    }
  }
  Captured->Functions[Captured->Count] = {Segment,  Bus,   Device,
                                          Function, Bytes, CAPTURED_HEADER_BYTES};
  ++Captured->Count;
}

FunctionList CapturedFunctions() {
  if (Captured == nullptr) {
    return {nullptr, 0};
  }
  return {Captured->Functions, Captured->Count};
}

const FunctionHeader *FindCapturedFunction(UINT32 Segment, UINT32 Bus, UINT32 Device,
                                           UINT32 Function) {
  for (UINTN Index = 0; Captured != nullptr && Index < Captured->Count; ++Index) {
    const FunctionHeader &Kept = Captured->Functions[Index];
    if (Kept.Segment == Segment && Kept.Bus == Bus && Kept.Device == Device &&
        Kept.Function == Function) {
      return &Kept;
    }
  }
  return nullptr;
}
