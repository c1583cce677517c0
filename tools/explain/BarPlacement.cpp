// BAR registers decoded from the configuration image: memory or I/O, 32 or 64 bits,
// prefetchable or not, and the programmed address.
#include "tools/explain/BarPlacement.h"

#include "driver/RegisterField.h"
#include "tools/source/ConfigRegisters.h"

namespace {

// The number of BARs a header of Function's layout has.
uint32_t BarCount(const ConfigFunction &Function) {
  switch (HeaderLayout(Function)) {
  case PCI_HEADER_LAYOUT_NORMAL:
    return PCI_NORMAL_BAR_COUNT;
  case PCI_HEADER_LAYOUT_BRIDGE:
    return PCI_BRIDGE_BAR_COUNT;
  default:
    return 0;
  }
}

// Offset of BAR Index's register.
size_t BarOffset(uint32_t Index) {
  return PCI_BAR_0 + PCI_BAR_STRIDE * Index;
}

// The memory type field of a memory BAR register.
uint32_t MemoryType(uint32_t Register) {
  return RegisterField(Register, PCI_BAR_MEMORY_TYPE_MASK);
}

// True when Register is a memory BAR of the 64-bit type.
bool Is64BitMemory(uint32_t Register) {
  return (Register & PCI_BAR_IO_SPACE) == 0 && MemoryType(Register) == PCI_BAR_MEMORY_TYPE_64;
}

// True when BAR Index is the upper half of the 64-bit BAR before it. The walk starts at BAR 0,
// as a device's BARs are laid out: a 64-bit BAR takes its own register and the next one.
bool IsUpperHalf(const ConfigFunction &Function, uint32_t Index) {
  bool Upper = false;
  for (uint32_t Bar = 0; Bar < Index; ++Bar) {
    Upper = !Upper && Is64BitMemory(ReadConfig32(Function, BarOffset(Bar)));
  }
  return Upper;
}

} // namespace

BarPlacement DecodeBar(const ConfigFunction &Function, uint32_t Index) {
  BarPlacement Placement;
  const uint32_t Count = BarCount(Function);
  if (Index >= Count || Function.Bytes.size() < BarOffset(Index) + sizeof(uint32_t)) {
    return Placement;
  }
  if (IsUpperHalf(Function, Index)) {
    Placement.Kind = BarKind::UpperHalf;
    return Placement;
  }
  const uint32_t Register = ReadConfig32(Function, BarOffset(Index));
  if ((Register & PCI_BAR_IO_SPACE) != 0) {
    Placement.Kind = BarKind::Io;
    return Placement;
  }
  Placement.Prefetchable = (Register & PCI_BAR_PREFETCHABLE) != 0;
  Placement.Address = Register & PCI_BAR_MEMORY_ADDRESS_MASK;
  switch (MemoryType(Register)) {
  case PCI_BAR_MEMORY_TYPE_32:
    Placement.Kind = BarKind::Memory32;
    break;
  case PCI_BAR_MEMORY_TYPE_BELOW_1M:
    Placement.Kind = BarKind::MemoryBelow1M;
    break;
  case PCI_BAR_MEMORY_TYPE_64:
    if (Index + 1 >= Count) {
      Placement = BarPlacement{};
      break;
    }
    Placement.Kind = BarKind::Memory64;
    Placement.Address |= static_cast<uint64_t>(ReadConfig32(Function, BarOffset(Index + 1)))
                         << BITS_PER_DWORD;
    break;
  default:
    Placement.Kind = BarKind::ReservedType;
    break;
  }
  return Placement;
}

bool IsMemoryBar(BarKind Kind) {
  return Kind == BarKind::Memory32 || Kind == BarKind::MemoryBelow1M || Kind == BarKind::Memory64;
}

std::string BarKindText(const BarPlacement &Placement, uint32_t Index) {
  switch (Placement.Kind) {
  case BarKind::Memory32:
  case BarKind::MemoryBelow1M:
  case BarKind::Memory64: {
    std::string Text = Placement.Kind == BarKind::Memory64 ? "memory, 64-bit" : "memory, 32-bit";
    if (Placement.Kind == BarKind::MemoryBelow1M) {
      Text += " (below 1 MB)";
    }
    return Text + (Placement.Prefetchable ? ", prefetchable" : ", not prefetchable");
  }
  case BarKind::Io:
    return "I/O";
  case BarKind::UpperHalf:
    return "upper half of the 64-bit BAR " + std::to_string(Index - 1);
  case BarKind::ReservedType:
    return "memory of a reserved type";
  case BarKind::NoSuchBar:
    break;
  }
  return "no such BAR in this header";
}

const char *BarKindToken(BarKind Kind) {
  switch (Kind) {
  case BarKind::Memory32:
    return "memory32";
  case BarKind::MemoryBelow1M:
    return "memory-below-1m";
  case BarKind::Memory64:
    return "memory64";
  case BarKind::Io:
    return "io";
  case BarKind::UpperHalf:
    return "upper-half";
  case BarKind::ReservedType:
    return "reserved-type";
  case BarKind::NoSuchBar:
    break;
  }
  return "no-such-bar";
}
