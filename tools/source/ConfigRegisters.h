// Reads of configuration registers (named in verdict/PciHeaderRegisters.h) from a function's
// bytes as the tool holds them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/ConfigImage.h"
#include "verdict/PciHeaderRegisters.h"

// The little-endian register of Width bytes at Offset of Function, or all ones where the
// function holds no such bytes (what a read of an absent register returns).
inline uint32_t ReadConfig(const ConfigFunction &Function, size_t Offset, size_t Width) {
  if (Function.Bytes.size() < Offset + Width) {
    return Width == sizeof(uint32_t) ? UINT32_MAX : (1U << (Width * BITS_PER_BYTE)) - 1;
  }
  uint32_t Value = 0;
  for (size_t Byte = 0; Byte < Width; ++Byte) {
    Value |= static_cast<uint32_t>(Function.Bytes[Offset + Byte]) << (Byte * BITS_PER_BYTE);
  }
  return Value;
}

// 8-, 16- and 32-bit registers of Function.
inline uint8_t ReadConfig8(const ConfigFunction &Function, size_t Offset) {
  return static_cast<uint8_t>(ReadConfig(Function, Offset, sizeof(uint8_t)));
}
inline uint16_t ReadConfig16(const ConfigFunction &Function, size_t Offset) {
  return static_cast<uint16_t>(ReadConfig(Function, Offset, sizeof(uint16_t)));
}
inline uint32_t ReadConfig32(const ConfigFunction &Function, size_t Offset) {
  return ReadConfig(Function, Offset, sizeof(uint32_t));
}

// The layout of Function's header (PCI_HEADER_LAYOUT_NORMAL, _BRIDGE, ...).
inline uint8_t HeaderLayout(const ConfigFunction &Function) {
  return ReadConfig8(Function, PCI_HEADER_TYPE_REGISTER) & PCI_HEADER_LAYOUT_MASK;
}
