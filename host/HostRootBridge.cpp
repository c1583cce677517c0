// Root bridges over configuration images, and the ACPI descriptors of their resource lists.
#include <cstring>

#include "firmware/AcpiDescriptors.h"
#include "host/HostPlatform.h"

namespace {

// Configuration space of one function, in bytes.
constexpr uint32_t PCI_CONFIG_SPACE_BYTES = 0x1000;
// Address fields of the root bridge protocol's PCI address.
constexpr uint64_t ADDRESS_REGISTER_MASK = 0xFF;
constexpr uint32_t ADDRESS_FUNCTION_SHIFT = 8;
constexpr uint32_t ADDRESS_DEVICE_SHIFT = 16;
constexpr uint32_t ADDRESS_BUS_SHIFT = 24;
constexpr uint32_t ADDRESS_EXTENDED_REGISTER_SHIFT = 32;
constexpr uint64_t ADDRESS_FUNCTION_MASK = 0x07;
constexpr uint64_t ADDRESS_DEVICE_MASK = 0x1F;
constexpr uint64_t ADDRESS_BUS_MASK = 0xFF;

void PutLe(std::vector<uint8_t> &Bytes, size_t Offset, uint64_t Value, size_t Size) {
  for (size_t Index = 0; Index < Size; ++Index) {
    Bytes[Offset + Index] = static_cast<uint8_t>(Value >> (8 * Index));
  }
}

std::vector<uint8_t> QwordDescriptor(uint8_t Type, uint64_t Minimum, uint64_t Maximum) {
  std::vector<uint8_t> Bytes(ACPI_QWORD_DESCRIPTOR_SIZE, 0);
  Bytes[ACPI_DESCRIPTOR_TAG] = ACPI_QWORD_ADDRESS_SPACE_DESCRIPTOR;
  PutLe(Bytes, ACPI_DESCRIPTOR_LENGTH, ACPI_QWORD_DESCRIPTOR_LENGTH, 2);
  Bytes[ACPI_DESCRIPTOR_RESOURCE_TYPE] = Type;
  PutLe(Bytes, ACPI_DESCRIPTOR_RANGE_MINIMUM, Minimum, 8);
  PutLe(Bytes, ACPI_DESCRIPTOR_RANGE_MAXIMUM, Maximum, 8);
  PutLe(Bytes, ACPI_DESCRIPTOR_RANGE_LENGTH, Maximum - Minimum + 1, 8);
  return Bytes;
}

// Bytes of one element of Width, or 0 for the widths the bridge does not serve: the survey reads
// single elements of 8, 16 or 32 bits.
size_t WidthBytes(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width) {
  const size_t Bytes = PciWidthBytes(Width);
  return Bytes <= sizeof(UINT32) ? Bytes : 0;
}

// Copies one element of Bytes (1, 2 or 4) from Source to Dest. Fixed-size copies compile to
// single loads and stores, where a copy of variable size would be a library call: every scan
// makes hundreds of thousands of these.
void CopyElement(void *Dest, const void *Source, size_t Bytes) {
  switch (Bytes) {
  case sizeof(UINT8):
    std::memcpy(Dest, Source, sizeof(UINT8));
    break;
  case sizeof(UINT16):
    std::memcpy(Dest, Source, sizeof(UINT16));
    break;
  default:
    std::memcpy(Dest, Source, sizeof(UINT32));
    break;
  }
}

// The function the bridge serves at Key, or null. Most reads of a scan are of absent
// functions, most of them beyond the highest key the bridge holds: those need no search.
const ConfigFunction *FindFunction(const HostRootBridge &Bridge, uint32_t Key) {
  if (Bridge.Functions.empty() || Key < Bridge.Functions.begin()->first ||
      Key > Bridge.Functions.rbegin()->first) {
    return nullptr;
  }
  const auto Found = Bridge.Functions.find(Key);
  return Found == Bridge.Functions.end() ? nullptr : &Found->second;
}

// Serves one read from the bridge's image, the way firmware does: all ones where no function
// answers, an error and an untouched destination where the function's bytes end.
EFI_STATUS ServeRead(const HostRootBridge &Bridge, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                     uint64_t Address, void *Buffer) {
  static constexpr UINT32 ALL_ONES = 0xFFFFFFFF;
  const size_t Bytes = WidthBytes(Width);
  const DecodedPciAddress Decoded = DecodePciAddress(Address);
  if (Decoded.Offset + Bytes > PCI_CONFIG_SPACE_BYTES) {
    return EFI_INVALID_PARAMETER;
  }
  const ConfigFunction *Function =
      FindFunction(Bridge, HostFunctionKey(Decoded.Bus, Decoded.Device, Decoded.Function));
  if (Function == nullptr) {
    CopyElement(Buffer, &ALL_ONES, Bytes);
    return EFI_SUCCESS;
  }
  if (Decoded.Offset + Bytes > Function->Bytes.size()) {
    return EFI_DEVICE_ERROR;
  }
  CopyElement(Buffer, Function->Bytes.data() + Decoded.Offset, Bytes);
  return EFI_SUCCESS;
}

} // namespace

DecodedPciAddress DecodePciAddress(uint64_t Address) {
  DecodedPciAddress Decoded{};
  Decoded.Bus = static_cast<uint32_t>((Address >> ADDRESS_BUS_SHIFT) & ADDRESS_BUS_MASK);
  Decoded.Device = static_cast<uint32_t>((Address >> ADDRESS_DEVICE_SHIFT) & ADDRESS_DEVICE_MASK);
  Decoded.Function =
      static_cast<uint32_t>((Address >> ADDRESS_FUNCTION_SHIFT) & ADDRESS_FUNCTION_MASK);
  // A non-zero extended register names the offset; otherwise the register byte does.
  const uint64_t Extended = Address >> ADDRESS_EXTENDED_REGISTER_SHIFT;
  const uint64_t Offset = Extended != 0 ? Extended : (Address & ADDRESS_REGISTER_MASK);
  Decoded.Offset = Offset > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(Offset);
  return Decoded;
}

std::vector<uint8_t> BusDescriptor(uint64_t Minimum, uint64_t Maximum) {
  return QwordDescriptor(ACPI_ADDRESS_SPACE_TYPE_BUS, Minimum, Maximum);
}

std::vector<uint8_t> MemoryDescriptor(uint64_t Minimum, uint64_t Maximum) {
  return QwordDescriptor(ACPI_ADDRESS_SPACE_TYPE_MEM, Minimum, Maximum);
}

std::vector<uint8_t> IoDescriptor(uint64_t Minimum, uint64_t Maximum) {
  return QwordDescriptor(ACPI_ADDRESS_SPACE_TYPE_IO, Minimum, Maximum);
}

std::vector<uint8_t> EndTag() {
  return {ACPI_END_TAG_DESCRIPTOR, 0};
}

EFI_STATUS EFIAPI HostPciRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                              EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address,
                              UINTN Count, void *Buffer) {
  HostPlatform &Platform = *ActiveHostPlatform;
  HostRootBridge &Bridge = *reinterpret_cast<HostRootBridgeShell *>(This)->Bridge;
  EFI_STATUS Status;
  const std::optional<EFI_STATUS> Fault = Platform.NextFault(HostCall::PciRead);
  const std::optional<EFI_STATUS> BridgeFault =
      Bridge.ReadFault ? Bridge.ReadFault(Address, Width) : std::nullopt;
  if (WidthBytes(Width) == 0 || Count != 1 || Buffer == nullptr) {
    Platform.Violation("Pci.Read of width " + std::to_string(Width) + ", count " +
                       std::to_string(Count) + (Buffer == nullptr ? ", no buffer" : ""));
    Status = EFI_INVALID_PARAMETER;
  } else if (Fault && EfiIsError(*Fault)) {
    Status = *Fault;
  } else if (BridgeFault) {
    Status = *BridgeFault;
    if (!EfiIsError(Status)) {
      ServeRead(Bridge, Width, Address, Buffer);
    }
  } else {
    Status = ServeRead(Bridge, Width, Address, Buffer);
    if (Status == EFI_SUCCESS && Fault) {
      Status = *Fault;
    }
  }
  Bridge.Reads.push_back({Address, Width, Status});
  Platform.LastRead = HostPlatform::ReadOrigin{Bridge.Shell.Protocol.SegmentNumber, Address};
  return Status;
}

EFI_STATUS EFIAPI HostConfiguration(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, void **Resources) {
  HostPlatform &Platform = *ActiveHostPlatform;
  HostRootBridge &Bridge = *reinterpret_cast<HostRootBridgeShell *>(This)->Bridge;
  ++Bridge.ConfigurationCalls;
  Bridge.TotalReadsAtConfiguration.push_back(Platform.TotalPciReads());
  const std::optional<EFI_STATUS> Fault = Platform.NextFault(HostCall::Configuration);
  if (Fault && EfiIsError(*Fault)) {
    return *Fault;
  }
  if (Resources == nullptr) {
    Platform.Violation("Configuration called without a result pointer");
    return EFI_INVALID_PARAMETER;
  }
  *Resources = Bridge.NullDescriptors ? nullptr : Bridge.Descriptors.data();
  return Fault.value_or(EFI_SUCCESS);
}
