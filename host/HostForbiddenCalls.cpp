// Members of the firmware tables that the driver must never call. Each is filled with its own
// function, which records a violation naming the member and refuses the call.
#include <cstring>
#include <string>
#include <utility>

#include "host/HostPlatform.h"

namespace {

// Names of every pointer slot after the header of the boot-services table, in layout order;
// the members the driver uses have no name here.
constexpr const char *BootServiceNames[] = {
    "RaiseTPL",
    "RestoreTPL",
    "AllocatePages",
    "FreePages",
    "GetMemoryMap",
    nullptr, // AllocatePool
    nullptr, // FreePool
    "CreateEvent",
    "SetTimer",
    "WaitForEvent",
    "SignalEvent",
    "CloseEvent",
    "CheckEvent",
    "InstallProtocolInterface",
    "ReinstallProtocolInterface",
    "UninstallProtocolInterface",
    nullptr, // HandleProtocol
    "Reserved",
    "RegisterProtocolNotify",
    "LocateHandle",
    "LocateDevicePath",
    "InstallConfigurationTable",
    "LoadImage",
    "StartImage",
    "Exit",
    "UnloadImage",
    "ExitBootServices",
    "GetNextMonotonicCount",
    "Stall",
    "SetWatchdogTimer",
    "ConnectController",
    "DisconnectController",
    "OpenProtocol",
    "CloseProtocol",
    "OpenProtocolInformation",
    "ProtocolsPerHandle",
    nullptr, // LocateHandleBuffer
    "LocateProtocol",
    "InstallMultipleProtocolInterfaces",
    "UninstallMultipleProtocolInterfaces",
    "CalculateCrc32",
    "CopyMem",
    "SetMem",
    "CreateEventEx",
};
constexpr size_t BOOT_SERVICE_SLOTS = std::size(BootServiceNames);
static_assert(sizeof(EFI_TABLE_HEADER) + BOOT_SERVICE_SLOTS * sizeof(void *) ==
              sizeof(EFI_BOOT_SERVICES));

// Pointer slots of the root bridge protocol from PollMem to SetAttributes.
constexpr const char *RootBridgeNames[] = {
    "PollMem",
    "PollIo",
    "Mem.Read",
    "Mem.Write",
    "Io.Read",
    "Io.Write",
    nullptr /* Pci.Read */,
    "Pci.Write",
    "CopyMem",
    "Map",
    "Unmap",
    "AllocateBuffer",
    "FreeBuffer",
    "Flush",
    "GetAttributes",
    "SetAttributes",
};
constexpr size_t ROOT_BRIDGE_FIRST_SLOT = offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, PollMem);
static_assert(ROOT_BRIDGE_FIRST_SLOT + std::size(RootBridgeNames) * sizeof(void *) ==
              offsetof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Configuration));

// Pointer slots of the text output protocol before Mode.
constexpr const char *ConsoleNames[] = {
    "ConOut.Reset",       nullptr /* OutputString */, "ConOut.TestString",
    "ConOut.QueryMode",   "ConOut.SetMode",           "ConOut.SetAttribute",
    "ConOut.ClearScreen", "ConOut.SetCursorPosition", "ConOut.EnableCursor",
};
static_assert(std::size(ConsoleNames) * sizeof(void *) ==
              offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, Mode));

constexpr size_t FORBIDDEN_KINDS =
    BOOT_SERVICE_SLOTS + std::size(RootBridgeNames) + std::size(ConsoleNames);

constexpr const char *ForbiddenName(size_t Id) {
  if (Id < BOOT_SERVICE_SLOTS) {
    return BootServiceNames[Id];
  }
  Id -= BOOT_SERVICE_SLOTS;
  if (Id < std::size(RootBridgeNames)) {
    return RootBridgeNames[Id];
  }
  return ConsoleNames[Id - std::size(RootBridgeNames)];
}

template <size_t Id>
EFI_STATUS EFIAPI ForbiddenCall() {
  if (ActiveHostPlatform != nullptr) {
    ActiveHostPlatform->Violation(std::string("the driver called ") + ForbiddenName(Id));
  }
  return EFI_UNSUPPORTED;
}

template <size_t... Ids>
constexpr std::array<void *, sizeof...(Ids)> MakeForbiddenCalls(std::index_sequence<Ids...>) {
  return {reinterpret_cast<void *>(&ForbiddenCall<Ids>)...};
}

const std::array<void *, FORBIDDEN_KINDS> ForbiddenCalls =
    MakeForbiddenCalls(std::make_index_sequence<FORBIDDEN_KINDS>());

// Fills the named slots of Count pointer slots at Slots with the forbidden calls from FirstId.
void FillSlots(void *Slots, const char *const *Names, size_t Count, size_t FirstId) {
  for (size_t Index = 0; Index < Count; ++Index) {
    if (Names[Index] != nullptr) {
      void *Call = ForbiddenCalls[FirstId + Index];
      std::memcpy(static_cast<uint8_t *>(Slots) + Index * sizeof(void *), &Call, sizeof(Call));
    }
  }
}

} // namespace

void FillForbiddenBootServices(EFI_BOOT_SERVICES &Table) {
  FillSlots(reinterpret_cast<uint8_t *>(&Table) + sizeof(EFI_TABLE_HEADER), BootServiceNames,
            BOOT_SERVICE_SLOTS, 0);
}

void FillForbiddenRootBridgeMembers(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL &Protocol) {
  FillSlots(reinterpret_cast<uint8_t *>(&Protocol) + ROOT_BRIDGE_FIRST_SLOT, RootBridgeNames,
            std::size(RootBridgeNames), BOOT_SERVICE_SLOTS);
}

void FillForbiddenConsoleMembers(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL &Console) {
  FillSlots(&Console, ConsoleNames, std::size(ConsoleNames),
            BOOT_SERVICE_SLOTS + std::size(RootBridgeNames));
}
