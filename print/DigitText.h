// Digit texts shared by the integer conversions, the walk's plain integers and the GUID, time
// and status texts: the digit tables, digit runs stored least significant first, and the
// value an integer directive prints from its argument slot.
#pragma once

#include "firmware/UefiBase.h"
#include "print/ArgumentList.h"
#include "print/FormatFlags.h"

// Digits of both radixes; hexadecimal output is always upper case.
inline constexpr CHAR8 DIGIT_CHARS[] = "0123456789ABCDEF";
inline constexpr UINTN DECIMAL_RADIX = 10;
inline constexpr UINTN HEX_RADIX_BASE = 16;
// Bits of one hexadecimal digit, and the mask of the lowest one.
inline constexpr unsigned HEX_DIGIT_BITS = 4;
inline constexpr UINT64 HEX_DIGIT_MASK = 0xF;
// The low 32 bits of a slot: a 32-bit argument, or a value cut to 32 bits.
inline constexpr UINT64 LOW_32_BITS = 0xFFFFFFFFULL;
// Digits of the longest 64-bit value in either radix (decimal 18446744073709551615).
inline constexpr UINTN MAX_INTEGER_DIGITS = 20;

// Decimal digit pairs "00" to "99": two digits per division.
inline constexpr UINT64 DECIMAL_PAIR_BASE = 100;
inline constexpr CHAR8 DECIMAL_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930"
    "31323334353637383940414243444546474849505152535455565758596061"
    "62636465666768697071727374757677787980818283848586878889909192"
    "93949596979899";
static_assert(sizeof(DECIMAL_PAIRS) == 2 * DECIMAL_PAIR_BASE + 1);
static_assert(DECIMAL_PAIRS[2 * UINTN{42}] == '4' && DECIMAL_PAIRS[2 * UINTN{42} + 1] == '2');

// Stores the decimal digits of Value after Scratch, least significant first, two at a time
// while at least three are left; returns the last digit stored, the most significant one.
// Shared by every decimal conversion, out of line.
CHAR8 *StoreDecimalDigits(CHAR8 *Scratch, UINT64 Value);

// Stores the hexadecimal digits of Value after Scratch, least significant first; returns the
// last one stored.
inline CHAR8 *StoreHexDigits(CHAR8 *Scratch, UINT64 Value) {
  CHAR8 *Digit = Scratch;
  do {
    *++Digit = DIGIT_CHARS[Value & HEX_DIGIT_MASK];
    Value >>= HEX_DIGIT_BITS;
  } while (Value != 0);
  return Digit;
}

// The integer argument of a slot: the whole slot with LONG_ARG, else its low 4 bytes as a
// signed 32-bit value widened to 64 bits.
inline UINT64 IntegerArgument(ArgumentSlot Slot, FormatFlags Flags) {
  if ((Flags & LONG_ARG) != 0) {
    return Slot;
  }
  const auto Low = static_cast<UINT32>(Slot & LOW_32_BITS);
  return static_cast<UINT64>(static_cast<INT64>(static_cast<INT32>(Low)));
}

// Sign prefix of a negative decimal.
inline constexpr UINT16 MINUS_PREFIX = '-';

// The value whose digits an integer conversion prints, from its argument Value and the
// conversion's Flags. A negative signed decimal gives its magnitude, negated in 64-bit
// arithmetic so that the most negative value prints as its unsigned magnitude, and sets Prefix
// to "-"; a 32-bit unsigned decimal, and a negative 32-bit hexadecimal, are cut to their low
// 32 bits. Any other value is printed as it is, and Prefix is left unchanged.
inline UINT64 PrintedValue(UINT64 Value, FormatFlags Flags, UINT16 &Prefix) {
  const bool Negative = static_cast<INT64>(Value) < 0;
  if ((Flags & HEX_RADIX) != 0) {
    return Negative && (Flags & LONG_ARG) == 0 ? Value & LOW_32_BITS : Value;
  }
  if (Negative && (Flags & UNSIGNED_ARG) == 0) {
    Prefix = MINUS_PREFIX;
    return 0 - Value;
  }
  if ((Flags & (UNSIGNED_ARG | LONG_ARG)) == UNSIGNED_ARG) {
    return Value & LOW_32_BITS;
  }
  return Value;
}
