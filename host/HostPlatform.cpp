// The hosted platform's tables, handles, fault injection and checks.
#include "host/HostPlatform.h"

#include <cstring>

#include "driver/DriverEntry.h"

HostPlatform *ActiveHostPlatform = nullptr;

namespace {

// Room for the reads of one bus with nothing on it (32 devices x 8 functions x 2 ID reads),
// which every scan makes, so that the read log does not grow through its small sizes.
constexpr size_t READS_RESERVED = 512;

constexpr const char *HostCallNames[HOST_CALL_KINDS] = {
    "LocateHandleBuffer", "HandleProtocol", "AllocatePool", "FreePool",
    "Configuration",      "Pci.Read",       "OutputString",
};

// Handles are the addresses of their records: a bridge's handle is its bridge.
EFI_STATUS EFIAPI HostLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType,
                                         const EFI_GUID *Protocol, void *SearchKey,
                                         UINTN *NoHandles, EFI_HANDLE **Buffer) {
  HostPlatform &Platform = *ActiveHostPlatform;
  const std::optional<EFI_STATUS> Fault = Platform.NextFault(HostCall::LocateHandleBuffer);
  if (Fault && EfiIsError(*Fault)) {
    return *Fault;
  }
  if (SearchType != ByProtocol || Protocol == nullptr || SearchKey != nullptr ||
      NoHandles == nullptr || Buffer == nullptr) {
    Platform.Violation("LocateHandleBuffer called with unexpected arguments");
    return EFI_INVALID_PARAMETER;
  }
  if (!GuidsEqual(*Protocol, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID)) {
    return EFI_NOT_FOUND;
  }
  if (Platform.LocateReturnsNoBuffer) {
    return Fault.value_or(EFI_SUCCESS);
  }
  if (Platform.Handles.empty()) {
    return EFI_NOT_FOUND;
  }
  // The handle buffer comes from the pool, so the driver must give it back.
  const size_t Bytes = Platform.Handles.size() * sizeof(EFI_HANDLE);
  void *Handles = Platform.PoolAllocate(Bytes, EfiBootServicesData);
  std::memcpy(Handles, Platform.Handles.data(), Bytes);
  *NoHandles = Platform.Handles.size();
  *Buffer = static_cast<EFI_HANDLE *>(Handles);
  return Fault.value_or(EFI_SUCCESS);
}

EFI_STATUS EFIAPI HostHandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                     void **Interface) {
  HostPlatform &Platform = *ActiveHostPlatform;
  const std::optional<EFI_STATUS> Fault = Platform.NextFault(HostCall::HandleProtocol);
  if (Fault && EfiIsError(*Fault)) {
    return *Fault;
  }
  if (Protocol == nullptr || Interface == nullptr) {
    Platform.Violation("HandleProtocol called with a null argument");
    return EFI_INVALID_PARAMETER;
  }
  if (!GuidsEqual(*Protocol, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID)) {
    return EFI_UNSUPPORTED;
  }
  for (const std::unique_ptr<HostRootBridge> &Bridge : Platform.Bridges) {
    if (Bridge->Handle == Handle) {
      *Interface = &Bridge->Shell.Protocol;
      return Fault.value_or(EFI_SUCCESS);
    }
  }
  return EFI_UNSUPPORTED;
}

} // namespace

HostPlatform::HostPlatform() {
  ActiveHostPlatform = this;
  ImageHandle = this;

  FillForbiddenBootServices(BootServices);
  BootServices.Hdr.Signature = 0x56524553544f4f42ULL; // "BOOTSERV"
  BootServices.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  BootServices.AllocatePool = HostAllocatePool;
  BootServices.FreePool = HostFreePool;
  BootServices.HandleProtocol = HostHandleProtocol;
  BootServices.LocateHandleBuffer = HostLocateHandleBuffer;

  FillForbiddenConsoleMembers(Console);
  Console.OutputString = HostOutputString;

  SystemTable.Hdr.Signature = 0x5453595320494249ULL; // "IBI SYST"
  SystemTable.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  SystemTable.ConOut = &Console;
  SystemTable.StdErr = &Console;
  SystemTable.BootServices = &BootServices;
  SystemTable.RuntimeServices = &RuntimeServices;
}

HostPlatform::~HostPlatform() {
  if (ActiveHostPlatform == this) {
    ActiveHostPlatform = nullptr;
  }
}

HostRootBridge &HostPlatform::AddRootBridge(ConfigImage Image, std::vector<uint8_t> Descriptors,
                                            uint32_t Segment) {
  auto Bridge = std::make_unique<HostRootBridge>();
  Bridge->Shell.Bridge = Bridge.get();
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL &Protocol = Bridge->Shell.Protocol;
  FillForbiddenRootBridgeMembers(Protocol);
  Protocol.ParentHandle = ImageHandle;
  Protocol.Pci.Read = HostPciRead;
  Protocol.Configuration = HostConfiguration;
  Protocol.SegmentNumber = Segment;
  Bridge->Handle = Bridge.get();
  Bridge->Reads.reserve(READS_RESERVED);
  Bridge->Descriptors = std::move(Descriptors);
  const std::vector<uint8_t> End = EndTag();
  Bridge->Descriptors.insert(Bridge->Descriptors.end(), End.begin(), End.end());
  for (ConfigFunction &Function : Image) {
    Bridge->Functions[HostFunctionKey(Function.Bus, Function.Device, Function.Function)] =
        std::move(Function);
  }
  Handles.push_back(Bridge->Handle);
  Bridges.push_back(std::move(Bridge));
  return *Bridges.back();
}

void HostPlatform::AddForeignHandle() {
  ForeignHandles.push_back(std::make_unique<HostForeignHandle>());
  Handles.push_back(ForeignHandles.back().get());
}

void HostPlatform::DetachConsole() {
  SystemTable.ConOut = nullptr;
}

void HostPlatform::InjectFault(HostCall Call, uint64_t Occurrence, EFI_STATUS Status) {
  Faults.push_back({Call, Occurrence, Status});
}

std::optional<EFI_STATUS> HostPlatform::NextFault(HostCall Call) {
  const uint64_t Occurrence = ++CallCounts[static_cast<size_t>(Call)];
  for (const HostFault &Fault : Faults) {
    if (Fault.Call == Call && (Fault.Occurrence == 0 || Fault.Occurrence == Occurrence)) {
      return Fault.Status;
    }
  }
  return std::nullopt;
}

void HostPlatform::Violation(std::string What) {
  Violations.push_back(std::move(What));
}

EFI_STATUS HostPlatform::RunDriverEntry() {
  ActiveHostPlatform = this;
  return DriverEntry(ImageHandle, &SystemTable);
}

uint64_t HostPlatform::TotalPciReads() const {
  uint64_t Total = 0;
  for (const std::unique_ptr<HostRootBridge> &Bridge : Bridges) {
    Total += Bridge->Reads.size();
  }
  return Total;
}

std::vector<std::string> HostPlatform::Check() const {
  std::vector<std::string> Found = Violations;
  for (const auto &[Address, Block] : Pool) {
    if (!Block.Freed) {
      Found.push_back("pool buffer of " + std::to_string(Block.Size) + " bytes never freed");
    }
  }
  return Found;
}

const char *HostCallName(HostCall Call) {
  return HostCallNames[static_cast<size_t>(Call)];
}
