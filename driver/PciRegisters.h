// PCI configuration space: header registers and capability list layouts that the scan reads.
#pragma once

#include "firmware/UefiBase.h"

// Vendor ID, 16 bits; all ones when no function answers at the address.
inline constexpr UINT64 PCI_VENDOR_ID = 0x00;
// Device ID, 16 bits.
inline constexpr UINT64 PCI_DEVICE_ID = 0x02;
// Header type, 8 bits.
inline constexpr UINT64 PCI_HEADER_TYPE = 0x0E;
// Header type bit: the device has functions 1 to 7.
inline constexpr UINT8 PCI_HEADER_TYPE_MULTI_FUNCTION = 0x80;
// Pointer to the first entry of the standard capability list, 8 bits.
inline constexpr UINT64 PCI_CAPABILITY_POINTER = 0x34;

// Capability pointer read at an address where no function answers.
inline constexpr UINT8 PCI_CAPABILITY_POINTER_ABSENT = 0xFF;
// Vendor ID read at an address where no function answers.
inline constexpr UINT16 PCI_ABSENT_VENDOR_ID = 0xFFFF;

// Standard capability entry: ID byte, then the pointer to the next entry.
inline constexpr UINT64 PCI_CAPABILITY_ID = 0;
inline constexpr UINT64 PCI_CAPABILITY_NEXT = 1;
// Standard capability ID of the PCI Express capability.
inline constexpr UINT8 PCI_CAPABILITY_ID_EXPRESS = 0x10;
// Most standard capability entries that fit between the header's end (0x40) and 0xFF, each
// four bytes long: a longer walk has met a loop.
inline constexpr UINT32 PCI_CAPABILITY_LIST_MAX_ENTRIES = 48;

// Offset of the first extended capability header.
inline constexpr UINT64 PCI_EXTENDED_CAPABILITY_START = 0x100;
// Extended capability header fields.
inline constexpr UINT32 PCI_EXT_CAP_ID_MASK = 0x0000FFFF;
inline constexpr UINT32 PCI_EXT_CAP_VERSION_MASK = 0x000F0000;
inline constexpr UINT32 PCI_EXT_CAP_NEXT_MASK = 0xFFF00000;
// Next-header offsets are dword aligned: the two low bits of the field are reserved.
inline constexpr UINT32 PCI_EXT_CAP_NEXT_OFFSET_MASK = 0xFFC;
// Headers that mean "no extended capabilities": nothing there, or nothing answering.
inline constexpr UINT32 PCI_EXT_CAP_HEADER_NONE = 0x00000000;
inline constexpr UINT32 PCI_EXT_CAP_HEADER_ABSENT = 0xFFFFFFFF;
// Most extended headers examined per function, the one at 0x100 included.
inline constexpr INT32 PCI_EXT_CAP_WALK_BUDGET = 480;

// Extended capability ID of the Resizable BAR capability.
inline constexpr UINT16 PCI_EXT_CAP_ID_REBAR = 0x0015;

// Configuration space geometry of the scan.
inline constexpr UINT32 PCI_MAX_BUS = 255;
inline constexpr UINT32 PCI_MAX_DEVICE = 31;
inline constexpr UINT32 PCI_MAX_FUNCTION = 7;
