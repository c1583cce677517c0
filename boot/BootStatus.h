// The status the boot image returns to the boot manager.
#pragma once

#include "firmware/UefiStatus.h"

// A boot option that returns success makes the boot manager stop the boot order and show its
// menu; one that returns an error makes it start the next boot option, so an error is the only
// way to boot on. EFI_ABORTED says what happened: the image did its work and gives the boot
// back. Tried in OVMF: with EFI_ABORTED the boot manager only notes the status on its debug
// channel and starts the next option; other errors behave the same, EFI_SUCCESS and warnings
// end in the boot manager's menu.
inline constexpr EFI_STATUS BOOT_OPTION_GO_ON_STATUS = EFI_ABORTED;
