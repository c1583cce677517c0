// Console print: renders a wide format through the format engine into a pool buffer and writes
// it to a text output protocol.
#pragma once

#include "firmware/SimpleTextOutput.h"
#include "firmware/UefiBase.h"
#include "print/ArgumentList.h"

// Characters of one print buffer: 320 of text and the terminator.
inline constexpr UINTN PRINT_BUFFER_CHARS = 321;

// Obtains a PRINT_BUFFER_CHARS-character EfiBootServicesData pool buffer, or null.
CHAR16 *AllocatePrintBuffer();

// Renders Format with Arguments and writes it to Console (which may be null). Returns the
// characters rendered, at most 320, or 0 when nothing was rendered or the console failed.
UINT64 PrintToConsole(const CHAR16 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                      const ArgumentSlot *Arguments);

// Prints to the system table's ConOut; each argument takes one 8-byte slot.
UINT64 PrintSlots(const CHAR16 *Format, const ArgumentSlot *Arguments);

template <typename... Args>
UINT64 Print(const CHAR16 *Format, Args... Arguments) {
  const ArgumentSlot Slots[sizeof...(Args) + 1] = {ToArgumentSlot(Arguments)..., 0};
  return PrintSlots(Format, Slots);
}
