// The driver's BAR line read back into its numbers, "BAR b RBAR CURRENT c RBAR MAX m RBAR NEW n":
// one reading for the boot image's annotation (UCS-2) and for rbar-survey (narrow text), so
// that the two always take the same lines for BAR lines.
#pragma once

#include "firmware/UefiBase.h"

// The numbers of a BAR line, in the order it prints them.
inline constexpr UINTN BAR_LINE_NUMBERS = 4;
inline constexpr UINTN BAR_LINE_BAR = 0;
inline constexpr UINTN BAR_LINE_CURRENT = 1;
inline constexpr UINTN BAR_LINE_HIGHEST = 2;
inline constexpr UINTN BAR_LINE_PROPOSED = 3;

// The words before each number, spaces included.
inline constexpr const char *BAR_LINE_WORDS[BAR_LINE_NUMBERS] = {"BAR ", " RBAR CURRENT ",
                                                                 " RBAR MAX ", " RBAR NEW "};
inline constexpr UINT32 BAR_LINE_DECIMAL_BASE = 10;
inline constexpr UINT64 BAR_LINE_NUMBER_LIMIT = 0xFFFFFFFFULL;

// True when Text[0..Length) is a BAR line, with or without its line end (LF or CR LF); Numbers
// then holds its numbers, each decimal and within 32 bits.
template <typename Char>
constexpr bool ParseBarLineNumbers(const Char *Text, UINTN Length,
                                   UINT32 (&Numbers)[BAR_LINE_NUMBERS]) {
  if (Length > 0 && Text[Length - 1] == Char('\n')) {
    --Length;
    if (Length > 0 && Text[Length - 1] == Char('\r')) {
      --Length;
    }
  }
  UINTN At = 0;
  for (UINTN Index = 0; Index < BAR_LINE_NUMBERS; ++Index) {
    for (const char *Word = BAR_LINE_WORDS[Index]; *Word != '\0'; ++Word, ++At) {
      if (At >= Length || Text[At] != Char(*Word)) {
        return false;
      }
    }
    const UINTN First = At;
    UINT64 Value = 0;
    for (; At < Length && Text[At] >= Char('0') && Text[At] <= Char('9'); ++At) {
      Value = Value * BAR_LINE_DECIMAL_BASE + static_cast<UINT64>(Text[At] - Char('0'));
      if (Value > BAR_LINE_NUMBER_LIMIT) {
        return false;
      }
    }
    if (At == First) {
      return false;
    }
    Numbers[Index] = static_cast<UINT32>(Value);
  }
  return At == Length;
}
