// The firmware facts a fixture image adds beside its bridges: its own memory-space map in place
// of the firmware's, and a Legacy BIOS protocol.
#pragma once

#include "firmware/SystemTable.h"

// Publishes what FixtureFacts asks for; returns the first failure, or EFI_SUCCESS.
EFI_STATUS InstallFixtureFirmwareFacts(EFI_HANDLE ImageHandle, EFI_BOOT_SERVICES *Services);
