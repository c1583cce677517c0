// The root bridge recorder: one protocol instance in front of the bridge the survey walks.
#include "boot/RootBridgeRecorder.h"

#include "boot/HeaderCapture.h"
#include "driver/PciConfigAccess.h"

namespace {

// The bits of an ID, and the fields of a protocol address (the ID registers' offsets and the
// bits of a byte are the verdict engine's, verdict/PciHeaderRegisters.h).
constexpr UINT32 ID_BITS = 16;
constexpr UINT64 ADDRESS_BUS_MASK = 0xFF;
constexpr UINT64 ADDRESS_DEVICE_MASK = 0x1F;
constexpr UINT64 ADDRESS_FUNCTION_MASK = 0x07;

// A vendor ID of all ones: no function answers there.
constexpr UINT16 ABSENT_VENDOR_ID = 0xFFFF;

constinit FunctionRead LastRead = {};
// The function counted last, so that a function read again is counted once.
constinit FunctionRead LastCounted = {};
constinit SurveyCounts Counts = {};
// The bridge the recorder stands in front of, and the recorder itself.
constinit EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RealBridge = nullptr;
constinit EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL Recorder = {};
constinit EFI_HANDLE_PROTOCOL RealHandleProtocol = nullptr;

// Copies a firmware table word by word. A plain assignment would call memcpy, whose byte loop
// the compiler turns into SSE code on x86-64.
__attribute__((no_builtin)) void CopyTable(EFI_BOOT_SERVICES &Copy, const EFI_BOOT_SERVICES &Real) {
  static_assert(sizeof(EFI_BOOT_SERVICES) % sizeof(UINT64) == 0);
  auto *To = reinterpret_cast<UINT64 *>(&Copy);
  const auto *From = reinterpret_cast<const UINT64 *>(&Real);
  for (UINTN Index = 0; Index < sizeof(EFI_BOOT_SERVICES) / sizeof(UINT64); ++Index) {
    To[Index] = From[Index];
  }
}

// The register a protocol address names: the extended register when there is one.
UINT64 RegisterOf(UINT64 Address) {
  const UINT64 Extended = Address >> PCI_ADDRESS_EXTENDED_REGISTER_SHIFT;
  return Extended != 0 ? Extended : (Address & PCI_ADDRESS_REGISTER_MASK);
}

// Configuration reads of one element: forwarded, then noted. Only the elements the survey
// reads (8, 16 and 32 bits) have their value noted.
EFI_STATUS EFIAPI RecordedPciRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *,
                                  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address,
                                  UINTN Count, void *Buffer) {
  const EFI_STATUS Status = RealBridge->Pci.Read(RealBridge, Width, Address, Count, Buffer);
  UINT32 Value = 0;
  const UINTN Bytes = PciWidthBytes(Width);
  if (Count == 1 && Buffer != nullptr && Bytes != 0 && Bytes <= sizeof(UINT32)) {
    const auto *Read = static_cast<const UINT8 *>(Buffer);
    for (UINTN Index = 0; Index < Bytes; ++Index) {
      Value |= static_cast<UINT32>(Read[Index]) << (BITS_PER_BYTE * Index);
    }
  }
  const UINT32 FunctionsBefore = Counts.FunctionsScanned;
  NoteConfigurationRead(RealBridge->SegmentNumber, Width, Address, Status, Value);
  // A function found present: its header, for the verdicts, before the survey reads on.
  if (Counts.FunctionsScanned != FunctionsBefore) {
    CaptureHeader(RealBridge, RealBridge->SegmentNumber, Address);
  }
  return Status;
}

EFI_STATUS EFIAPI RecordedConfiguration(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *, void **Resources) {
  return RealBridge->Configuration(RealBridge, Resources);
}

// Writes, memory and I/O: the annotation serves configuration reads only.
EFI_STATUS EFIAPI RefusedAccess(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *,
                                EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH, UINT64, UINTN, void *) {
  return EFI_UNSUPPORTED;
}

// Every other operation takes the protocol first; under the firmware's calling convention the
// caller removes the other arguments.
EFI_STATUS EFIAPI RefusedOperation(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *) {
  return EFI_UNSUPPORTED;
}

void StandInFront(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge) {
  void *Refused = reinterpret_cast<void *>(&RefusedOperation);
  RealBridge = Bridge;
  Recorder.ParentHandle = Bridge->ParentHandle;
  Recorder.PollMem = Refused;
  Recorder.PollIo = Refused;
  Recorder.Mem.Read = RefusedAccess;
  Recorder.Mem.Write = RefusedAccess;
  Recorder.Io.Read = RefusedAccess;
  Recorder.Io.Write = RefusedAccess;
  Recorder.Pci.Read = RecordedPciRead;
  Recorder.Pci.Write = RefusedAccess;
  Recorder.CopyMem = Refused;
  Recorder.Map = Refused;
  Recorder.Unmap = Refused;
  Recorder.AllocateBuffer = Refused;
  Recorder.FreeBuffer = Refused;
  Recorder.Flush = Refused;
  Recorder.GetAttributes = Refused;
  Recorder.SetAttributes = Refused;
  Recorder.Configuration = RecordedConfiguration;
  Recorder.SegmentNumber = Bridge->SegmentNumber;
}

EFI_STATUS EFIAPI RecordingHandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                          void **Interface) {
  const EFI_STATUS Status = RealHandleProtocol(Handle, Protocol, Interface);
  if (!EfiIsError(Status) && Protocol != nullptr && Interface != nullptr && *Interface != nullptr &&
      GuidsEqual(*Protocol, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID)) {
    StandInFront(static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *>(*Interface));
    ++Counts.RootBridges;
    *Interface = &Recorder;
  }
  return Status;
}

} // namespace

bool SameFunction(const FunctionRead &A, const FunctionRead &B) {
  return A.Valid && B.Valid && A.Segment == B.Segment && A.Bus == B.Bus && A.Device == B.Device &&
         A.Function == B.Function;
}

EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RecordedBridge() {
  return RealBridge;
}

const SurveyCounts &RecordedSurveyCounts() {
  return Counts;
}

const FunctionRead &LastFunctionRead() {
  return LastRead;
}

EFI_BOOT_SERVICES *RecordingBootServices(const EFI_BOOT_SERVICES &Real, EFI_BOOT_SERVICES &Copy) {
  CopyTable(Copy, Real);
  RealHandleProtocol = Real.HandleProtocol;
  Copy.HandleProtocol = RecordingHandleProtocol;
  LastRead = {};
  LastCounted = {};
  Counts = {};
  ClearHeaderCapture();
  return &Copy;
}

void NoteConfigurationRead(UINT32 Segment, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                           UINT64 Address, EFI_STATUS Status, UINT32 Value) {
  FunctionRead Read = {};
  Read.Valid = true;
  Read.Segment = Segment;
  Read.Bus = static_cast<UINT32>((Address >> PCI_ADDRESS_BUS_SHIFT) & ADDRESS_BUS_MASK);
  Read.Device = static_cast<UINT32>((Address >> PCI_ADDRESS_DEVICE_SHIFT) & ADDRESS_DEVICE_MASK);
  Read.Function =
      static_cast<UINT32>((Address >> PCI_ADDRESS_FUNCTION_SHIFT) & ADDRESS_FUNCTION_MASK);
  if (SameFunction(Read, LastRead)) {
    Read = LastRead;
  }
  // A read that failed delivered nothing; one that covers an ID register delivered it.
  const UINT64 Register = RegisterOf(Address);
  const UINTN Bytes = PciWidthBytes(Width);
  if (!EfiIsError(Status) && Bytes >= sizeof(UINT16) && Bytes <= sizeof(UINT32)) {
    if (Register == PCI_VENDOR_ID_REGISTER) {
      Read.HasVendorId = true;
      Read.VendorId = static_cast<UINT16>(Value);
      if (Read.VendorId != ABSENT_VENDOR_ID && !SameFunction(Read, LastCounted)) {
        ++Counts.FunctionsScanned;
        LastCounted = Read;
      }
      if (Bytes == sizeof(UINT32)) {
        Read.HasDeviceId = true;
        Read.DeviceId = static_cast<UINT16>(Value >> ID_BITS);
      }
    } else if (Register == PCI_DEVICE_ID_REGISTER) {
      Read.HasDeviceId = true;
      Read.DeviceId = static_cast<UINT16>(Value);
    }
  }
  LastRead = Read;
}
