// What the boot image does after its report, chosen from how it was started: its load options
// ("wait", "countdown=N", "success") and, when they choose nothing, the path it was started from.
#pragma once

#include "firmware/DevicePath.h"
#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

// After the report: wait for a key, or count down (any key ends the countdown at once).
enum class AfterReport : UINT32 {
  WaitForKey,
  Countdown,
};

struct BootMode {
  AfterReport After;
  // Seconds of the countdown; 0 returns at once.
  UINT32 CountdownSeconds;
  // Return EFI_SUCCESS after the report ("success"), for a boot loader's menu entry: GRUB then
  // shows its menu again with no error left behind. Otherwise the image returns the error
  // status that makes the firmware go on to its next boot option.
  bool ReturnSuccess = false;
};

// Load options read: at most this many UCS-2 characters; the rest is ignored.
inline constexpr UINT32 LOAD_OPTIONS_MAX_CHARS = 512;
// Longest countdown=N accepted: an hour.
inline constexpr UINT32 COUNTDOWN_MAX_SECONDS = 3600;
// Characters of a word not understood that its message shows.
inline constexpr UINTN OPTION_WORD_SHOWN_CHARS = 40;
// Nodes of a device path looked at, and characters of the file path they spell.
inline constexpr UINTN DEVICE_PATH_MAX_NODES = 32;
inline constexpr UINTN FILE_PATH_MAX_CHARS = 260;

// True when the file path nodes of FilePath spell the removable-media path that firmware starts
// by itself, \EFI\BOOT\BOOT<name>.EFI (in any case).
bool IsRemovableMediaPath(const EFI_DEVICE_PATH_PROTOCOL *FilePath);

// The mode the load options (Size bytes at Options, UCS-2 text of words separated by spaces)
// choose, starting from Default; the last word that chooses wins. A first word that names a
// file (the image's own path, which shells and boot loaders put first) is skipped; every other
// word not understood is named on the console and changes nothing. Data that is not text (any
// character outside printable ASCII before the first NUL) chooses nothing and is not shown.
BootMode ParseLoadOptions(const void *Options, UINT32 Size, BootMode Default);

// True when the load options (as for ParseLoadOptions; data that is not text says nothing) hold
// the word "save", in any case: the report is saved to a file even when the image was not
// started from removable media.
bool LoadOptionsSaySave(const void *Options, UINT32 Size);

// LoadOptionsSaySave of the image's own load options.
bool WantsSave(EFI_HANDLE Image);

// The status the image returns after its report in Mode.
EFI_STATUS StatusAfterReport(const BootMode &Mode);

// The image's mode: its load options over the default, which is to wait for a key when it was
// started from the removable-media path and to count down BOOT_COUNTDOWN_SECONDS otherwise.
BootMode ChooseBootMode(EFI_HANDLE Image);
