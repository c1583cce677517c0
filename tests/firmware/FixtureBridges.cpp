// Entry point of the test fixture driver: publishes one PCI root bridge for each generated
// configuration image, each on a handle of its own, so that a driver loaded after it finds them
// behind the firmware's own bridge, in install order. The image stays resident (its entry point
// returns success), and with it the bridges' code and data.
#include "firmware/BootServices.h"
#include "firmware/SystemTable.h"
#include "tests/firmware/FixtureFirmware.h"
#include "tests/firmware/FixtureRootBridge.h"

namespace {

// Windows the resource descriptors report. The survey reads only the bus range; the others
// make the descriptor walk step over descriptors of other types, before and after it.
inline constexpr UINT64 FIXTURE_IO_MINIMUM = 0x6000;
inline constexpr UINT64 FIXTURE_IO_MAXIMUM = 0x6FFF;
inline constexpr UINT64 FIXTURE_MEMORY32_MINIMUM = 0xC0000000;
inline constexpr UINT64 FIXTURE_MEMORY32_MAXIMUM = 0xCFFFFFFF;
inline constexpr UINT64 FIXTURE_MEMORY64_MINIMUM = 0x0000008000000000;
inline constexpr UINT64 FIXTURE_MEMORY64_MAXIMUM = 0x000000FFFFFFFFFF;
inline constexpr UINT64 FIXTURE_BUS_MINIMUM = 0;

// General flags of a QWORD descriptor: the minimum and maximum addresses are fixed.
inline constexpr UINT8 ACPI_GENERAL_FLAG_MIN_FIXED = 0x04;
inline constexpr UINT8 ACPI_GENERAL_FLAG_MAX_FIXED = 0x08;
// Offset of the end tag's checksum byte.
inline constexpr UINTN ACPI_END_TAG_CHECKSUM = 1;
// Type-specific flags of a memory descriptor: bits 2..1 say how it may be cached, 3
// (prefetchable) the memory may be read ahead.
inline constexpr UINT8 ACPI_MEMORY_PREFETCHABLE = 0x06;
// Address granularity field of the memory descriptors.
inline constexpr UINT64 ACPI_GRANULARITY_MEMORY32 = 32;
inline constexpr UINT64 ACPI_GRANULARITY_MEMORY64 = 64;

// The bridges' storage; the firmware holds pointers into it once they are installed.
constinit FixtureRootBridge Bridges[FIXTURE_MAX_BRIDGES] = {};

// Stores the low Size bytes of Value at At, least significant byte first.
void StoreLittleEndian(UINT8 *At, UINT64 Value, UINTN Size) {
  for (UINTN Index = 0; Index < Size; ++Index) {
    At[Index] = static_cast<UINT8>(Value >> (8 * Index));
  }
}

// Writes one QWORD address space descriptor for Minimum..Maximum at At and returns the
// position after it.
UINT8 *WriteQwordDescriptor(UINT8 *At, UINT8 ResourceType, UINT64 Granularity, UINT64 Minimum,
                            UINT64 Maximum) {
  At[ACPI_DESCRIPTOR_TAG] = ACPI_QWORD_ADDRESS_SPACE_DESCRIPTOR;
  StoreLittleEndian(At + ACPI_DESCRIPTOR_LENGTH, ACPI_QWORD_DESCRIPTOR_LENGTH, sizeof(UINT16));
  At[ACPI_DESCRIPTOR_RESOURCE_TYPE] = ResourceType;
  At[ACPI_DESCRIPTOR_GENERAL_FLAGS] = ACPI_GENERAL_FLAG_MIN_FIXED | ACPI_GENERAL_FLAG_MAX_FIXED;
  At[ACPI_DESCRIPTOR_TYPE_FLAGS] = 0;
  StoreLittleEndian(At + ACPI_DESCRIPTOR_GRANULARITY, Granularity, sizeof(UINT64));
  StoreLittleEndian(At + ACPI_DESCRIPTOR_RANGE_MINIMUM, Minimum, sizeof(UINT64));
  StoreLittleEndian(At + ACPI_DESCRIPTOR_RANGE_MAXIMUM, Maximum, sizeof(UINT64));
  StoreLittleEndian(At + ACPI_DESCRIPTOR_TRANSLATION_OFFSET, 0, sizeof(UINT64));
  StoreLittleEndian(At + ACPI_DESCRIPTOR_RANGE_LENGTH, Maximum - Minimum + 1, sizeof(UINT64));
  return At + ACPI_QWORD_DESCRIPTOR_SIZE;
}

// Writes the memory ranges the image's dump gives, each in its own descriptor.
UINT8 *WriteAllocatedDescriptors(UINT8 *At, const FixtureBridgeImage &Image) {
  for (UINTN Index = 0; Index < Image.AllocatedCount && Index < FIXTURE_MAX_ALLOCATED; ++Index) {
    const FixtureAllocated &Range = Image.Allocated[Index];
    UINT8 *Descriptor = At;
    At = WriteQwordDescriptor(At, ACPI_ADDRESS_SPACE_TYPE_MEM,
                              Range.Mem64 ? ACPI_GRANULARITY_MEMORY64 : ACPI_GRANULARITY_MEMORY32,
                              Range.Base, Range.Limit);
    if (Range.Prefetchable) {
      Descriptor[ACPI_DESCRIPTOR_TYPE_FLAGS] = ACPI_MEMORY_PREFETCHABLE;
    }
  }
  return At;
}

// Fills the bridge's descriptor list: I/O, then the memory ranges its dump gives or else the
// fixed 32-bit window, the bus range when the image has one, the fixed 64-bit window when the
// dump gives none, end tag (its checksum byte 0 means "not checked").
void BuildDescriptors(FixtureRootBridge &Bridge) {
  const FixtureBridgeImage &Image = *Bridge.Image;
  UINT8 *At = Bridge.Descriptors;
  At = WriteQwordDescriptor(At, ACPI_ADDRESS_SPACE_TYPE_IO, 0, FIXTURE_IO_MINIMUM,
                            FIXTURE_IO_MAXIMUM);
  if (Image.HasAllocated) {
    At = WriteAllocatedDescriptors(At, Image);
  } else {
    At = WriteQwordDescriptor(At, ACPI_ADDRESS_SPACE_TYPE_MEM, ACPI_GRANULARITY_MEMORY32,
                              FIXTURE_MEMORY32_MINIMUM, FIXTURE_MEMORY32_MAXIMUM);
  }
  if (Image.HasBusRange) {
    At = WriteQwordDescriptor(At, ACPI_ADDRESS_SPACE_TYPE_BUS, 0, FIXTURE_BUS_MINIMUM,
                              Image.BusMaximum);
  }
  if (!Image.HasAllocated) {
    At = WriteQwordDescriptor(At, ACPI_ADDRESS_SPACE_TYPE_MEM, ACPI_GRANULARITY_MEMORY64,
                              FIXTURE_MEMORY64_MINIMUM, FIXTURE_MEMORY64_MAXIMUM);
  }
  At[ACPI_DESCRIPTOR_TAG] = ACPI_END_TAG_DESCRIPTOR;
  At[ACPI_END_TAG_CHECKSUM] = 0;
}

// Configuration: the bridge's descriptor list, which the bridge keeps owning.
EFI_STATUS EFIAPI FixtureConfiguration(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, void **Resources) {
  if (This == nullptr || Resources == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Resources = reinterpret_cast<FixtureRootBridge *>(This)->Descriptors;
  return EFI_SUCCESS;
}

// Memory, I/O and configuration writes, and memory and I/O reads: a fixture bridge has
// nothing behind them.
EFI_STATUS EFIAPI FixtureAccessUnsupported(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *,
                                           EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH, UINT64, UINTN,
                                           void *) {
  return EFI_UNSUPPORTED;
}

// Every other operation of the protocol (polling, copies, DMA mapping, attributes). Each takes
// the protocol first; the rest of their arguments are ignored, and under the firmware's calling
// convention the caller removes them.
EFI_STATUS EFIAPI FixtureOperationUnsupported(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *) {
  return EFI_UNSUPPORTED;
}

// Fills the protocol of Bridge for Image, installed as the bridge of Segment.
void InitializeBridge(FixtureRootBridge &Bridge, const FixtureBridgeImage &Image,
                      EFI_HANDLE ImageHandle, UINT32 Segment) {
  void *Unsupported = reinterpret_cast<void *>(&FixtureOperationUnsupported);
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL &Protocol = Bridge.Protocol;
  Protocol.ParentHandle = ImageHandle;
  Protocol.PollMem = Unsupported;
  Protocol.PollIo = Unsupported;
  Protocol.Mem.Read = FixtureAccessUnsupported;
  Protocol.Mem.Write = FixtureAccessUnsupported;
  Protocol.Io.Read = FixtureAccessUnsupported;
  Protocol.Io.Write = FixtureAccessUnsupported;
  Protocol.Pci.Read = FixturePciRead;
  Protocol.Pci.Write = FixtureAccessUnsupported;
  Protocol.CopyMem = Unsupported;
  Protocol.Map = Unsupported;
  Protocol.Unmap = Unsupported;
  Protocol.AllocateBuffer = Unsupported;
  Protocol.FreeBuffer = Unsupported;
  Protocol.Flush = Unsupported;
  Protocol.GetAttributes = Unsupported;
  Protocol.SetAttributes = Unsupported;
  Protocol.Configuration = FixtureConfiguration;
  Protocol.SegmentNumber = Segment;
  Bridge.Image = &Image;
  BuildDescriptors(Bridge);
}

} // namespace

// Installs the bridges in the order of the generated images. Each sits in a PCI segment of its
// own (1, 2, ...), since each image numbers its buses from 0 like the firmware's bridge does.
extern "C" EFI_STATUS EFIAPI FixtureEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (FixtureBridgeCount > FIXTURE_MAX_BRIDGES) {
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_BOOT_SERVICES *Services = SystemTable->BootServices;
  for (UINTN Index = 0; Index < FixtureBridgeCount; ++Index) {
    FixtureRootBridge &Bridge = Bridges[Index];
    InitializeBridge(Bridge, FixtureBridgeImages[Index], ImageHandle,
                     static_cast<UINT32>(Index + 1));
    // A null handle asks for a new handle.
    EFI_HANDLE Handle = nullptr;
    EFI_STATUS Status = Services->InstallProtocolInterface(
        &Handle, &EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID, EFI_NATIVE_INTERFACE, &Bridge.Protocol);
    // The shell then reports the load as failed, which fails the test before any report.
    if (EfiIsError(Status)) {
      return Status;
    }
  }
  return InstallFixtureFirmwareFacts(ImageHandle, Services);
}
