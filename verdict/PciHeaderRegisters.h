// Configuration registers the verdict engine decodes: the header type, BARs, and a bridge
// header's bus numbers and memory windows.
#pragma once

#include "firmware/UefiBase.h"

// Header type register, 8 bits; its low seven bits give the layout of the header.
inline constexpr UINTN PCI_HEADER_TYPE_REGISTER = 0x0E;
inline constexpr UINT8 PCI_HEADER_LAYOUT_MASK = 0x7F;
// Header layouts: an ordinary function (six BARs) and a PCI-to-PCI bridge (two BARs).
inline constexpr UINT8 PCI_HEADER_LAYOUT_NORMAL = 0x00;
inline constexpr UINT8 PCI_HEADER_LAYOUT_BRIDGE = 0x01;
inline constexpr UINT32 PCI_NORMAL_BAR_COUNT = 6;
inline constexpr UINT32 PCI_BRIDGE_BAR_COUNT = 2;

// BAR n is the 32-bit register at PCI_BAR_0 + PCI_BAR_STRIDE * n.
inline constexpr UINTN PCI_BAR_0 = 0x10;
inline constexpr UINTN PCI_BAR_STRIDE = 4;
// BAR fields: I/O space indicator, memory type, prefetchable, and the address bits.
inline constexpr UINT32 PCI_BAR_IO_SPACE = 0x00000001;
inline constexpr UINT32 PCI_BAR_MEMORY_TYPE_MASK = 0x00000006;
inline constexpr UINT32 PCI_BAR_PREFETCHABLE = 0x00000008;
inline constexpr UINT32 PCI_BAR_MEMORY_ADDRESS_MASK = 0xFFFFFFF0;
// Memory types (the field shifted down): anywhere in 32 bits, below 1 MB, anywhere in 64 bits.
inline constexpr UINT32 PCI_BAR_MEMORY_TYPE_32 = 0;
inline constexpr UINT32 PCI_BAR_MEMORY_TYPE_BELOW_1M = 1;
inline constexpr UINT32 PCI_BAR_MEMORY_TYPE_64 = 2;

// Bridge header: bus numbers, 8 bits each.
inline constexpr UINTN PCI_BRIDGE_PRIMARY_BUS = 0x18;
inline constexpr UINTN PCI_BRIDGE_SECONDARY_BUS = 0x19;
inline constexpr UINTN PCI_BRIDGE_SUBORDINATE_BUS = 0x1A;
// Bridge header: memory window base and limit, 16 bits each.
inline constexpr UINTN PCI_BRIDGE_MEMORY_BASE = 0x20;
inline constexpr UINTN PCI_BRIDGE_MEMORY_LIMIT = 0x22;
// Bridge header: prefetchable memory window base and limit, 16 bits each, and the upper 32
// address bits of both where the window decodes 64-bit addresses.
inline constexpr UINTN PCI_BRIDGE_PREF_MEMORY_BASE = 0x24;
inline constexpr UINTN PCI_BRIDGE_PREF_MEMORY_LIMIT = 0x26;
inline constexpr UINTN PCI_BRIDGE_PREF_BASE_UPPER32 = 0x28;
inline constexpr UINTN PCI_BRIDGE_PREF_LIMIT_UPPER32 = 0x2C;
// Window base and limit registers: address bits 31..20 in bits 15..4 (the limit's low 20
// address bits are all ones); the prefetchable ones hold their decode width in bits 3..0.
inline constexpr UINT16 PCI_BRIDGE_WINDOW_ADDRESS_MASK = 0xFFF0;
inline constexpr UINT32 PCI_BRIDGE_WINDOW_ADDRESS_SHIFT = 16;
inline constexpr UINT16 PCI_BRIDGE_PREF_TYPE_MASK = 0x000F;
inline constexpr UINT16 PCI_BRIDGE_PREF_TYPE_64 = 0x0001;
// Windows are set in units of 1 MB.
inline constexpr UINT64 PCI_BRIDGE_WINDOW_GRANULARITY = 0x100000;

// Vendor and device ID registers, 16 bits each.
inline constexpr UINTN PCI_VENDOR_ID_REGISTER = 0x00;
inline constexpr UINTN PCI_DEVICE_ID_REGISTER = 0x02;

// Bits in a byte and in a 32-bit register half.
inline constexpr UINT32 BITS_PER_BYTE = 8;
inline constexpr UINT32 BITS_PER_DWORD = 32;
// The first address that 32-bit decoding cannot reach.
inline constexpr UINT64 FOUR_GB = 1ULL << BITS_PER_DWORD;
