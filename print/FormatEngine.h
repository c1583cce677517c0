// The format engine: renders a narrow or wide format string and an argument list into a bounded
// narrow or wide buffer, or only counts the characters the rendering produces.
#pragma once

#include "firmware/UefiBase.h"
#include "print/ArgumentList.h"
#include "print/FormatFlags.h"

// Largest buffer size, in characters, and longest format string accepted.
inline constexpr UINT64 FORMAT_MAX_CHARS = 1000000;
// WideStrLenBounded's result for a string longer than FORMAT_MAX_CHARS.
inline constexpr UINT64 FORMAT_LENGTH_OVERFLOW = FORMAT_MAX_CHARS + 1;
// Narrow characters in each call's scratch area: digit runs and sub-formatted texts.
inline constexpr UINTN FORMAT_SCRATCH_CHARS = 38;

// Renders Format with the argument slots at Arguments into Buffer, which holds BufferSize
// characters including the terminator. Flags: WIDE_OUTPUT, WIDE_FORMAT, COUNT_ONLY. Returns the
// characters written before the terminator, the characters produced with COUNT_ONLY, or 0 for a
// refused call.
UINT64 FormatCore(void *Buffer, UINT64 BufferSize, FormatFlags Flags, const void *Format,
                  const ArgumentSlot *Arguments);

// FormatCore with its arguments gathered into one 8-byte slot each.
template <typename... Args>
UINT64 FormatAscii(void *Buffer, UINT64 BufferSize, FormatFlags Flags, const void *Format,
                   Args... Arguments) {
  const ArgumentSlot Slots[sizeof...(Args) + 1] = {ToArgumentSlot(Arguments)..., 0};
  return FormatCore(Buffer, BufferSize, Flags, Format, Slots);
}

// Characters before the terminator of a wide string: 0 for null, FORMAT_LENGTH_OVERFLOW when
// the first FORMAT_LENGTH_OVERFLOW characters hold no terminator.
UINT64 WideStrLenBounded(const CHAR16 *String);

// Writes Count copies of Character from Position on, BytesPerChar (1 or 2) bytes each, low byte
// first, stopping before End. A count of 0 or less writes nothing. Returns the position after
// the last character written.
UINT8 *FillChars(UINT8 *Position, const UINT8 *End, INT64 Count, UINT16 Character,
                 UINTN BytesPerChar);

// Stores a NUL byte at Scratch, then the digits of Value in Radix (10 or 16), least significant
// first. Returns a pointer to the last digit stored, the most significant one.
CHAR8 *ValueToDigits(CHAR8 *Scratch, UINT64 Value, UINTN Radix);
