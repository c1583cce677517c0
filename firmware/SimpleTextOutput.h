// The simple text output protocol: the console that ConOut names.
#pragma once

#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;

// Writes a NUL-terminated UCS-2 string at the cursor.
using EFI_TEXT_STRING = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This,
                                             const CHAR16 *String);

// Columns and rows of text mode ModeNumber; EFI_UNSUPPORTED for a mode the device lacks.
using EFI_TEXT_QUERY_MODE = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This,
                                                 UINTN ModeNumber, UINTN *Columns, UINTN *Rows);

// The console's state: its current mode is Mode (of MaxMode modes).
struct SIMPLE_TEXT_OUTPUT_MODE {
  INT32 MaxMode;
  INT32 Mode;
  INT32 Attribute;
  INT32 CursorColumn;
  INT32 CursorRow;
  BOOLEAN CursorVisible;
};
static_assert(offsetof(SIMPLE_TEXT_OUTPUT_MODE, Mode) == 4);
static_assert(offsetof(SIMPLE_TEXT_OUTPUT_MODE, CursorVisible) == 20);
static_assert(sizeof(SIMPLE_TEXT_OUTPUT_MODE) == 24);

// Members the system does not call are kept as plain pointers so the layout stays exact.
struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  void *Reset;
  EFI_TEXT_STRING OutputString;
  void *TestString;
  EFI_TEXT_QUERY_MODE QueryMode;
  void *SetMode;
  void *SetAttribute;
  void *ClearScreen;
  void *SetCursorPosition;
  void *EnableCursor;
  SIMPLE_TEXT_OUTPUT_MODE *Mode;
};
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, QueryMode) == 24);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, Mode) == 72);
static_assert(sizeof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL) == 80);
