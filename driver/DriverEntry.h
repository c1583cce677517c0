// The image's entry point.
#pragma once

#include "firmware/SystemTable.h"

// Records the globals, surveys every root bridge and returns EFI_SUCCESS, whatever it found.
extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table);
