// A root bridge's Configuration() list read into its facts: ACPI QWORD and DWORD address space
// descriptors closed by an end tag. Every byte is checked to lie within the caller's bound
// before it is read, so a malformed or truncated list is found out, never read past.
#include "firmware/AcpiDescriptors.h"
#include "verdict/FirmwareFacts.h"

namespace {

// Tag byte and layout of a DWORD address space descriptor: tag, 2-byte length, then 23 bytes;
// granularity, minimum, maximum, translation offset and length are 4 bytes each.
constexpr UINT8 ACPI_DWORD_ADDRESS_SPACE_DESCRIPTOR = 0x87;
constexpr UINTN ACPI_DWORD_DESCRIPTOR_SIZE = 26;
constexpr UINT16 ACPI_DWORD_DESCRIPTOR_LENGTH = 23;
constexpr UINTN ACPI_DWORD_RANGE_MINIMUM = 10;
constexpr UINTN ACPI_DWORD_RANGE_LENGTH = 22;
// Bytes of a large descriptor's tag and length field.
constexpr UINTN ACPI_LARGE_HEADER_SIZE = 3;
// A memory descriptor's type-specific flags: bits 2..1 give its cacheability, 3 is
// prefetchable.
constexpr UINT8 ACPI_MEMORY_ATTRIBUTE_MASK = 0x06;
constexpr UINT8 ACPI_MEMORY_PREFETCHABLE = 0x06;
// Address granularity of a 64-bit memory range.
constexpr UINT64 ACPI_GRANULARITY_64 = 64;
// The last bus number.
constexpr UINT64 LAST_BUS_NUMBER = 0xFF;
constexpr UINT32 BITS_PER_BYTE_SHIFT = 8;

// The little-endian value of Width bytes at At.
UINT64 ReadLittle(const UINT8 *At, UINTN Width) {
  UINT64 Value = 0;
  for (UINTN Byte = Width; Byte > 0; --Byte) {
    Value = (Value << BITS_PER_BYTE_SHIFT) | At[Byte - 1];
  }
  return Value;
}

// One address space descriptor, in either form.
struct AddressDescriptor {
  UINT8 ResourceType;
  UINT8 TypeFlags;
  UINT64 Granularity;
  UINT64 Minimum;
  UINT64 Length;
};

// Reads the descriptor at At (its whole size checked by the caller) of the QWORD form when
// Qword, else the DWORD form.
AddressDescriptor ReadDescriptor(const UINT8 *At, bool Qword) {
  const UINTN Width = Qword ? sizeof(UINT64) : sizeof(UINT32);
  AddressDescriptor Descriptor;
  Descriptor.ResourceType = At[ACPI_DESCRIPTOR_RESOURCE_TYPE];
  Descriptor.TypeFlags = At[ACPI_DESCRIPTOR_TYPE_FLAGS];
  Descriptor.Granularity = ReadLittle(At + ACPI_DESCRIPTOR_GRANULARITY, Width);
  Descriptor.Minimum =
      ReadLittle(At + (Qword ? ACPI_DESCRIPTOR_RANGE_MINIMUM : ACPI_DWORD_RANGE_MINIMUM), Width);
  Descriptor.Length =
      ReadLittle(At + (Qword ? ACPI_DESCRIPTOR_RANGE_LENGTH : ACPI_DWORD_RANGE_LENGTH), Width);
  return Descriptor;
}

// Takes one descriptor into Bridge; false when it says something impossible (a range past the
// end of the address space, or bus numbers past 255).
bool TakeDescriptor(FirmwareFacts &Facts, RootBridgeFacts &Bridge,
                    const AddressDescriptor &Descriptor) {
  if (Descriptor.Length == 0) {
    return true;
  }
  if (Descriptor.Minimum > UINT64_MAX - (Descriptor.Length - 1)) {
    return false;
  }
  const UINT64 Last = Descriptor.Minimum + (Descriptor.Length - 1);
  if (Descriptor.ResourceType == ACPI_ADDRESS_SPACE_TYPE_BUS) {
    if (Last > LAST_BUS_NUMBER) {
      return false;
    }
    Bridge.BusFirst = static_cast<UINT8>(Descriptor.Minimum);
    Bridge.BusLast = static_cast<UINT8>(Last);
    return true;
  }
  if (Descriptor.ResourceType == ACPI_ADDRESS_SPACE_TYPE_MEM) {
    AllocatedRange Range;
    Range.Range = {Descriptor.Minimum, Last};
    Range.Mem64 = Descriptor.Granularity == ACPI_GRANULARITY_64;
    Range.Prefetchable =
        (Descriptor.TypeFlags & ACPI_MEMORY_ATTRIBUTE_MASK) == ACPI_MEMORY_PREFETCHABLE;
    return AddAllocatedRange(Facts, Bridge, Range) || Facts.Overflow;
  }
  return true;
}

// Walks List[0..Length) into Bridge; true when it is well formed and closed by an end tag.
bool WalkDescriptors(FirmwareFacts &Facts, RootBridgeFacts &Bridge, const UINT8 *List,
                     UINTN Length) {
  UINTN At = 0;
  while (At < Length) {
    const UINT8 Tag = List[At];
    if (Tag == ACPI_END_TAG_DESCRIPTOR) {
      return Length - At >= ACPI_END_TAG_SIZE;
    }
    const bool Qword = Tag == ACPI_QWORD_ADDRESS_SPACE_DESCRIPTOR;
    if (!Qword && Tag != ACPI_DWORD_ADDRESS_SPACE_DESCRIPTOR) {
      return false;
    }
    const UINTN Size = Qword ? ACPI_QWORD_DESCRIPTOR_SIZE : ACPI_DWORD_DESCRIPTOR_SIZE;
    if (Length - At < ACPI_LARGE_HEADER_SIZE || Length - At < Size) {
      return false;
    }
    const UINT64 Field = ReadLittle(List + At + ACPI_DESCRIPTOR_LENGTH, sizeof(UINT16));
    if (Field != (Qword ? ACPI_QWORD_DESCRIPTOR_LENGTH : ACPI_DWORD_DESCRIPTOR_LENGTH)) {
      return false;
    }
    if (!TakeDescriptor(Facts, Bridge, ReadDescriptor(List + At, Qword))) {
      return false;
    }
    At += Size;
  }
  return false;
}

} // namespace

RootBridgeFacts *AddRootBridgeDescriptors(FirmwareFacts &Facts, UINT32 Segment, const UINT8 *List,
                                          UINTN Length) {
  RootBridgeFacts *Bridge = AddRootBridge(Facts, Segment, 0, LAST_BUS_NUMBER, true);
  if (Bridge == nullptr) {
    return nullptr;
  }
  if (List == nullptr || !WalkDescriptors(Facts, *Bridge, List, Length)) {
    Bridge->Known = false;
    Bridge->BusFirst = 0;
    Bridge->BusLast = LAST_BUS_NUMBER;
    Bridge->AllocatedCount = 0;
  }
  return Bridge;
}
