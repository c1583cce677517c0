// BAR registers decoded from a function's configuration bytes: memory or I/O, 32 or 64 bits,
// prefetchable or not, and the programmed address.
#include "verdict/BarPlacement.h"

#include "driver/RegisterField.h"

namespace {

// The number of BARs a header of Function's layout has.
UINT32 BarCount(const FunctionHeader &Function) {
  switch (HeaderLayoutOf(Function)) {
  case PCI_HEADER_LAYOUT_NORMAL:
    return PCI_NORMAL_BAR_COUNT;
  case PCI_HEADER_LAYOUT_BRIDGE:
    return PCI_BRIDGE_BAR_COUNT;
  default:
    return 0;
  }
}

// Offset of BAR Index's register.
UINTN BarOffset(UINT32 Index) {
  return PCI_BAR_0 + PCI_BAR_STRIDE * Index;
}

// The memory type field of a memory BAR register.
UINT32 MemoryType(UINT32 Register) {
  return RegisterField(Register, PCI_BAR_MEMORY_TYPE_MASK);
}

// True when Register is a memory BAR of the 64-bit type.
bool Is64BitMemory(UINT32 Register) {
  return (Register & PCI_BAR_IO_SPACE) == 0 && MemoryType(Register) == PCI_BAR_MEMORY_TYPE_64;
}

// True when BAR Index is the upper half of the 64-bit BAR before it. The walk starts at BAR 0,
// as a device's BARs are laid out: a 64-bit BAR takes its own register and the next one.
bool IsUpperHalf(const FunctionHeader &Function, UINT32 Index) {
  bool Upper = false;
  for (UINT32 Bar = 0; Bar < Index; ++Bar) {
    Upper = !Upper && Is64BitMemory(ReadHeader32(Function, BarOffset(Bar)));
  }
  return Upper;
}

} // namespace

BarPlacement DecodeBar(const FunctionHeader &Function, UINT32 Index) {
  BarPlacement Placement;
  const UINT32 Count = BarCount(Function);
  if (Index >= Count || Function.Length < BarOffset(Index) + sizeof(UINT32)) {
    return Placement;
  }
  if (IsUpperHalf(Function, Index)) {
    Placement.Kind = BarKind::UpperHalf;
    return Placement;
  }
  const UINT32 Register = ReadHeader32(Function, BarOffset(Index));
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
    Placement.Address |= static_cast<UINT64>(ReadHeader32(Function, BarOffset(Index + 1)))
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

void AppendBarKindText(TextBuffer &Out, const BarPlacement &Placement, UINT32 Index) {
  switch (Placement.Kind) {
  case BarKind::Memory32:
  case BarKind::MemoryBelow1M:
  case BarKind::Memory64:
    AppendText(Out, Placement.Kind == BarKind::Memory64 ? "memory, 64-bit" : "memory, 32-bit");
    if (Placement.Kind == BarKind::MemoryBelow1M) {
      AppendText(Out, " (below 1 MB)");
    }
    AppendText(Out, Placement.Prefetchable ? ", prefetchable" : ", not prefetchable");
    return;
  case BarKind::Io:
    AppendText(Out, "I/O");
    return;
  case BarKind::UpperHalf:
    AppendText(Out, "upper half of the 64-bit BAR ");
    AppendDecimal(Out, Index - 1);
    return;
  case BarKind::ReservedType:
    AppendText(Out, "memory of a reserved type");
    return;
  case BarKind::NoSuchBar:
    break;
  }
  AppendText(Out, "no such BAR in this header");
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
