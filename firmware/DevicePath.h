// Device paths: a packed list of nodes, each starting with a four-byte header (type, subtype,
// 16-bit length of the whole node, little-endian and unaligned), ended by an end node.
#pragma once

#include "firmware/UefiBase.h"

struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
};
static_assert(offsetof(EFI_DEVICE_PATH_PROTOCOL, SubType) == 1);
static_assert(offsetof(EFI_DEVICE_PATH_PROTOCOL, Length) == 2);
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4);

// Media nodes, and among them the file path node: the header, then a NUL-terminated UCS-2 path
// (not necessarily aligned) filling the rest of the node.
inline constexpr UINT8 MEDIA_DEVICE_PATH = 0x04;
inline constexpr UINT8 MEDIA_FILEPATH_DP = 0x04;
inline constexpr UINTN FILEPATH_NODE_PATH_OFFSET = sizeof(EFI_DEVICE_PATH_PROTOCOL);

// The end node: type 0x7F, subtype 0xFF ends the whole path (0x01 ends one instance).
inline constexpr UINT8 END_DEVICE_PATH_TYPE = 0x7F;
inline constexpr UINT8 END_ENTIRE_DEVICE_PATH_SUBTYPE = 0xFF;
