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

// 09576E91-6D3F-11D2-8E39-00A0C969723B: the device path of a handle.
inline constexpr EFI_GUID EFI_DEVICE_PATH_PROTOCOL_GUID = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// Messaging nodes, and among them a USB port.
inline constexpr UINT8 MESSAGING_DEVICE_PATH = 0x03;
inline constexpr UINT8 MSG_USB_DP = 0x05;
