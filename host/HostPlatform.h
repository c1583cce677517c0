// The hosted UEFI platform: a system table, boot services with pool accounting, root bridges
// over configuration images and a capturing console, on which the driver's own code runs
// unchanged in tests and host tools. Calls the driver must never make are recorded as
// violations, as are pool misuse and leaks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firmware/PciRootBridgeIo.h"
#include "firmware/SystemTable.h"
#include "host/ConfigImage.h"

// The firmware calls the driver may make, each of which can be made to fail.
enum class HostCall {
  LocateHandleBuffer,
  HandleProtocol,
  AllocatePool,
  FreePool,
  Configuration,
  PciRead,
  OutputString,
};
inline constexpr size_t HOST_CALL_KINDS = 7;

// Makes the Occurrence-th call (1-based; 0 = every call) of a kind return Status. An error
// status makes the call do nothing; a warning status lets it do its work and then returns the
// warning.
struct HostFault {
  HostCall Call;
  uint64_t Occurrence;
  EFI_STATUS Status;
};

// One configuration read as the bridge saw it.
struct PciReadRecord {
  uint64_t Address;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width;
  EFI_STATUS Status;
};

// Register offset, bus, device and function of a root bridge protocol address.
struct DecodedPciAddress {
  uint32_t Bus;
  uint32_t Device;
  uint32_t Function;
  uint32_t Offset;
};
DecodedPciAddress DecodePciAddress(uint64_t Address);

// The key of a function in a bridge's map: bus, device and function in ascending scan order.
constexpr uint32_t HostFunctionKey(uint32_t Bus, uint32_t Device, uint32_t Function) {
  return (Bus << 8) | (Device << 3) | Function;
}

// ACPI QWORD descriptors for building a bridge's resource list; EndTag closes it.
std::vector<uint8_t> BusDescriptor(uint64_t Minimum, uint64_t Maximum);
std::vector<uint8_t> MemoryDescriptor(uint64_t Minimum, uint64_t Maximum);
std::vector<uint8_t> IoDescriptor(uint64_t Minimum, uint64_t Maximum);
std::vector<uint8_t> EndTag();

struct HostRootBridge;

// The protocol instance the driver sees, with the way back to the bridge that serves it.
struct HostRootBridgeShell {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL Protocol;
  HostRootBridge *Bridge;
};

// A root bridge over a configuration image. Present functions hold 64, 256 or 4096 bytes;
// absent ones read all ones. A read past a function's bytes or past offset 0xFFF fails with an
// error status and leaves the destination untouched.
struct HostRootBridge {
  HostRootBridgeShell Shell{};
  EFI_HANDLE Handle = nullptr;
  // The resource list handed out by Configuration, end tag included.
  std::vector<uint8_t> Descriptors;
  // Configuration succeeds but hands out a null list.
  bool NullDescriptors = false;
  std::map<uint32_t, ConfigFunction> Functions;
  std::vector<PciReadRecord> Reads;
  // Consulted before every read: a status it returns is the read's result, with the
  // destination untouched.
  std::function<std::optional<EFI_STATUS>(uint64_t Address,
                                          EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width)>
      ReadFault;
  // Calls of Configuration.
  uint64_t ConfigurationCalls = 0;
  // Reads logged before each Configuration call, to check the order of bridge walks.
  std::vector<size_t> TotalReadsAtConfiguration;
};

// A handle whose HandleProtocol yields no root bridge.
struct HostForeignHandle {
  int Unused = 0;
};

struct HostPlatform {
  HostPlatform();
  ~HostPlatform();
  HostPlatform(const HostPlatform &) = delete;
  HostPlatform &operator=(const HostPlatform &) = delete;

  // Adds a root bridge serving Image, with Descriptors as its resource list (an end tag is
  // appended). Bridges are found in the order they were added. The functions are moved in.
  HostRootBridge &AddRootBridge(ConfigImage Image, std::vector<uint8_t> Descriptors,
                                uint32_t Segment = 0);
  // Adds a handle in the handle buffer on which the root bridge protocol is not found.
  void AddForeignHandle();
  // Removes ConOut from the system table.
  void DetachConsole();
  void InjectFault(HostCall Call, uint64_t Occurrence, EFI_STATUS Status);
  // LocateHandleBuffer succeeds without a buffer or count.
  bool LocateReturnsNoBuffer = false;

  // Runs the driver's entry point on this platform.
  EFI_STATUS RunDriverEntry();

  // Everything OutputString received, in order, as narrow text (characters above 0x7E shown as
  // "\u" escapes), and as the raw UCS-2 strings.
  std::string ConsoleText() const;
  std::vector<std::u16string> ConsoleWrites;

  // Where a configuration read went: the bridge's segment and the protocol address.
  struct ReadOrigin {
    uint32_t Segment = 0;
    uint64_t Address = 0;
  };
  // The last configuration read made on any bridge, if one was made.
  std::optional<ReadOrigin> LastRead;
  // For each entry of ConsoleWrites, the last configuration read made before it: the function
  // whose report the write is part of.
  std::vector<std::optional<ReadOrigin>> ConsoleWriteOrigins;

  uint64_t Calls(HostCall Call) const { return CallCounts[static_cast<size_t>(Call)]; }
  uint64_t TotalPciReads() const;
  // Pool buffers not given back yet.
  size_t OutstandingPoolBuffers() const;
  // Violations so far and leaks: an empty list means the driver behaved.
  std::vector<std::string> Check() const;

  // The status a call of this kind returns now, or nothing; counts the call.
  std::optional<EFI_STATUS> NextFault(HostCall Call);
  void Violation(std::string What);
  // Takes a recorded block from the pool without counting a call.
  void *PoolAllocate(size_t Size, EFI_MEMORY_TYPE Type);

  EFI_SYSTEM_TABLE SystemTable{};
  EFI_BOOT_SERVICES BootServices{};
  EFI_RUNTIME_SERVICES RuntimeServices{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Console{};
  EFI_HANDLE ImageHandle = nullptr;

  std::vector<std::unique_ptr<HostRootBridge>> Bridges;
  std::vector<std::unique_ptr<HostForeignHandle>> ForeignHandles;
  // Handles in the order LocateHandleBuffer returns them.
  std::vector<EFI_HANDLE> Handles;

  struct PoolBlock {
    std::unique_ptr<uint8_t[]> Bytes;
    size_t Size = 0;
    EFI_MEMORY_TYPE Type = EfiReservedMemoryType;
    bool Freed = false;
  };
  // Blocks stay allocated until the platform goes, so a double free is always recognised.
  std::map<const void *, PoolBlock> Pool;

  std::array<uint64_t, HOST_CALL_KINDS> CallCounts{};
  std::vector<HostFault> Faults;
  std::vector<std::string> Violations;
};

// The name of a call kind, for messages.
const char *HostCallName(HostCall Call);

// The platform the firmware tables currently belong to (boot services carry no context).
extern HostPlatform *ActiveHostPlatform;

// Fills Table's members the driver must not call with functions that record a violation.
void FillForbiddenBootServices(EFI_BOOT_SERVICES &Table);
void FillForbiddenRootBridgeMembers(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL &Protocol);
void FillForbiddenConsoleMembers(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL &Console);

// The boot services, root bridge and console members the driver does use.
EFI_STATUS EFIAPI HostAllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, void **Buffer);
EFI_STATUS EFIAPI HostFreePool(void *Buffer);
EFI_STATUS EFIAPI HostPciRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                              EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address,
                              UINTN Count, void *Buffer);
EFI_STATUS EFIAPI HostConfiguration(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, void **Resources);
EFI_STATUS EFIAPI HostOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *String);
