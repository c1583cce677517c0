// The simple text output protocol: the console that ConOut names.
#pragma once

#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;

// Writes a NUL-terminated UCS-2 string at the cursor.
using EFI_TEXT_STRING = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This,
                                             const CHAR16 *String);

// Members the system does not call are kept as plain pointers so the layout stays exact.
struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  void *Reset;
  EFI_TEXT_STRING OutputString;
  void *TestString;
  void *QueryMode;
  void *SetMode;
  void *SetAttribute;
  void *ClearScreen;
  void *SetCursorPosition;
  void *EnableCursor;
  void *Mode;
};
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, Mode) == 72);
static_assert(sizeof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL) == 80);
