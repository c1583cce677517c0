// A function's configuration bytes as the verdict engine reads them: a view that the boot image
// fills from the reads it made and rbar-survey from the functions it holds. The engine never
// copies or keeps the bytes.
#pragma once

#include "verdict/PciHeaderRegisters.h"

// One function: its address, and its configuration bytes from offset 0 (64, 256 or 4096 of
// them; fewer when a read stopped early).
struct FunctionHeader {
  // The PCI segment (domain); above 0xFFFF for domains some hosts number that way.
  UINT32 Segment;
  UINT8 Bus;
  UINT8 Device;
  UINT8 Function;
  const UINT8 *Bytes;
  UINTN Length;
};

// The functions the engine may look at for one verdict: every function read, in any order.
struct FunctionList {
  const FunctionHeader *Items;
  UINTN Count;
};

// True when A and B name the same function.
constexpr bool SameFunctionAddress(const FunctionHeader &A, const FunctionHeader &B) {
  return A.Segment == B.Segment && A.Bus == B.Bus && A.Device == B.Device &&
         A.Function == B.Function;
}

// The little-endian register of Width bytes (1, 2 or 4) at Offset, or all ones where the
// function holds no such bytes (what a read of an absent register returns).
constexpr UINT32 ReadHeaderRegister(const FunctionHeader &Function, UINTN Offset, UINTN Width) {
  if (Function.Bytes == nullptr || Offset > Function.Length || Function.Length - Offset < Width) {
    return Width >= sizeof(UINT32) ? 0xFFFFFFFFU : (1U << (Width * BITS_PER_BYTE)) - 1;
  }
  UINT32 Value = 0;
  for (UINTN Byte = 0; Byte < Width; ++Byte) {
    Value |= static_cast<UINT32>(Function.Bytes[Offset + Byte]) << (Byte * BITS_PER_BYTE);
  }
  return Value;
}

// 8-, 16- and 32-bit registers of Function.
constexpr UINT8 ReadHeader8(const FunctionHeader &Function, UINTN Offset) {
  return static_cast<UINT8>(ReadHeaderRegister(Function, Offset, sizeof(UINT8)));
}
constexpr UINT16 ReadHeader16(const FunctionHeader &Function, UINTN Offset) {
  return static_cast<UINT16>(ReadHeaderRegister(Function, Offset, sizeof(UINT16)));
}
constexpr UINT32 ReadHeader32(const FunctionHeader &Function, UINTN Offset) {
  return ReadHeaderRegister(Function, Offset, sizeof(UINT32));
}

// The layout of Function's header (PCI_HEADER_LAYOUT_NORMAL, _BRIDGE, ...).
constexpr UINT8 HeaderLayoutOf(const FunctionHeader &Function) {
  return ReadHeader8(Function, PCI_HEADER_TYPE_REGISTER) & PCI_HEADER_LAYOUT_MASK;
}
