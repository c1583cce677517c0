// The Legacy BIOS protocol, which firmware publishes while its compatibility support module
// (CSM) is loaded. The system only asks whether it is there.
#pragma once

#include "firmware/UefiBase.h"

// DB9A1E3D-45CB-4ABB-853B-E5387FDB2E2D
inline constexpr EFI_GUID EFI_LEGACY_BIOS_PROTOCOL_GUID = {
    0xDB9A1E3D, 0x45CB, 0x4ABB, {0x85, 0x3B, 0xE5, 0x38, 0x7F, 0xDB, 0x2E, 0x2D}};
