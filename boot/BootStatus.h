// The status the boot image returns to the boot manager.
#pragma once

#include "firmware/UefiStatus.h"

// The boot manager stops the boot order and shows its menu when a boot option returns
// EFI_SUCCESS, and starts the next boot option when one returns anything else. Seen in OVMF:
// EFI_SUCCESS brought up its menu (UiApp) instead of the next option; a warning
// (EFI_WARN_STALE_DATA) went on without a word, but a boot manager that tests only the error
// bit would take a warning for success and stop; every error tried (EFI_NOT_FOUND,
// EFI_LOAD_ERROR, EFI_UNSUPPORTED, EFI_NOT_STARTED, EFI_ABORTED) went on to the next option,
// after one console line naming the option and the status. So the image returns an error, the
// one whose name says what happened: it did its work and gives the boot back
// ("... "rbar-survey" ...: Aborted").
inline constexpr EFI_STATUS BOOT_OPTION_GO_ON_STATUS = EFI_ABORTED;
