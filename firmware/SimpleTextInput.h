// The simple text input protocol: the console keyboard that ConIn names.
#pragma once

#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

// One keystroke: a scan code for keys without a character (0 when there is a character), and
// the character (0 for keys that have none).
struct EFI_INPUT_KEY {
  UINT16 ScanCode;
  CHAR16 UnicodeChar;
};
static_assert(sizeof(EFI_INPUT_KEY) == 4);
static_assert(offsetof(EFI_INPUT_KEY, UnicodeChar) == 2);

struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL;

// Takes the next keystroke: EFI_SUCCESS with Key filled in, EFI_NOT_READY when none is waiting.
using EFI_INPUT_READ_KEY = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This,
                                                EFI_INPUT_KEY *Key);

// Members the system does not call are kept as plain pointers so the layout stays exact.
struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL {
  void *Reset;
  EFI_INPUT_READ_KEY ReadKeyStroke;
  EFI_EVENT WaitForKey;
};
static_assert(offsetof(EFI_SIMPLE_TEXT_INPUT_PROTOCOL, ReadKeyStroke) == 8);
static_assert(offsetof(EFI_SIMPLE_TEXT_INPUT_PROTOCOL, WaitForKey) == 16);
static_assert(sizeof(EFI_SIMPLE_TEXT_INPUT_PROTOCOL) == 24);
