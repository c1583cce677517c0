// Configuration registers that the explanation decodes host-side (BARs, the bridge header's bus
// numbers and memory windows), and reads of them from a function's bytes as the tool holds them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/ConfigImage.h"

// Header type register, 8 bits; its low seven bits give the layout of the header.
inline constexpr size_t PCI_HEADER_TYPE_REGISTER = 0x0E;
inline constexpr uint8_t PCI_HEADER_LAYOUT_MASK = 0x7F;
// Header layouts: an ordinary function (six BARs) and a PCI-to-PCI bridge (two BARs).
inline constexpr uint8_t PCI_HEADER_LAYOUT_NORMAL = 0x00;
inline constexpr uint8_t PCI_HEADER_LAYOUT_BRIDGE = 0x01;
inline constexpr uint32_t PCI_NORMAL_BAR_COUNT = 6;
inline constexpr uint32_t PCI_BRIDGE_BAR_COUNT = 2;

// BAR n is the 32-bit register at PCI_BAR_0 + PCI_BAR_STRIDE * n.
inline constexpr size_t PCI_BAR_0 = 0x10;
inline constexpr size_t PCI_BAR_STRIDE = 4;
// BAR fields: I/O space indicator, memory type, prefetchable, and the address bits.
inline constexpr uint32_t PCI_BAR_IO_SPACE = 0x00000001;
inline constexpr uint32_t PCI_BAR_MEMORY_TYPE_MASK = 0x00000006;
inline constexpr uint32_t PCI_BAR_PREFETCHABLE = 0x00000008;
inline constexpr uint32_t PCI_BAR_MEMORY_ADDRESS_MASK = 0xFFFFFFF0;
// Memory types (the field shifted down): anywhere in 32 bits, below 1 MB, anywhere in 64 bits.
inline constexpr uint32_t PCI_BAR_MEMORY_TYPE_32 = 0;
inline constexpr uint32_t PCI_BAR_MEMORY_TYPE_BELOW_1M = 1;
inline constexpr uint32_t PCI_BAR_MEMORY_TYPE_64 = 2;

// Bridge header: bus numbers, 8 bits each.
inline constexpr size_t PCI_BRIDGE_PRIMARY_BUS = 0x18;
inline constexpr size_t PCI_BRIDGE_SECONDARY_BUS = 0x19;
inline constexpr size_t PCI_BRIDGE_SUBORDINATE_BUS = 0x1A;
// Bridge header: memory window base and limit, 16 bits each.
inline constexpr size_t PCI_BRIDGE_MEMORY_BASE = 0x20;
inline constexpr size_t PCI_BRIDGE_MEMORY_LIMIT = 0x22;
// Bridge header: prefetchable memory window base and limit, 16 bits each, and the upper 32
// address bits of both where the window decodes 64-bit addresses.
inline constexpr size_t PCI_BRIDGE_PREF_MEMORY_BASE = 0x24;
inline constexpr size_t PCI_BRIDGE_PREF_MEMORY_LIMIT = 0x26;
inline constexpr size_t PCI_BRIDGE_PREF_BASE_UPPER32 = 0x28;
inline constexpr size_t PCI_BRIDGE_PREF_LIMIT_UPPER32 = 0x2C;
// Window base and limit registers: address bits 31..20 in bits 15..4 (the limit's low 20
// address bits are all ones); the prefetchable ones hold their decode width in bits 3..0.
inline constexpr uint16_t PCI_BRIDGE_WINDOW_ADDRESS_MASK = 0xFFF0;
inline constexpr uint32_t PCI_BRIDGE_WINDOW_ADDRESS_SHIFT = 16;
inline constexpr uint16_t PCI_BRIDGE_PREF_TYPE_MASK = 0x000F;
inline constexpr uint16_t PCI_BRIDGE_PREF_TYPE_64 = 0x0001;
// Windows are set in units of 1 MB.
inline constexpr uint64_t PCI_BRIDGE_WINDOW_GRANULARITY = 0x100000;

// Bits in a byte and in a 32-bit register half.
inline constexpr uint32_t BITS_PER_BYTE = 8;
inline constexpr uint32_t BITS_PER_DWORD = 32;
// The first address that 32-bit decoding cannot reach.
inline constexpr uint64_t FOUR_GB = 1ULL << BITS_PER_DWORD;

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
