// Integer conversions of the format engine ("d", "u", "x", "X", "p"): the argument slot is
// read as a 32-bit or 64-bit value, given its sign prefix, turned into a digit run in the
// call's scratch area (least significant digit first, after a NUL) and handed to the output
// stage to be read backwards.
#include "print/FormatDirective.h"

namespace {

// Digits of both radixes; hexadecimal output is always upper case.
constexpr CHAR8 DIGIT_CHARS[] = "0123456789ABCDEF";
constexpr UINTN DECIMAL_RADIX = 10;
constexpr UINTN HEX_RADIX_BASE = 16;
// Decimal digits per comma group.
constexpr UINT64 COMMA_GROUP_DIGITS = 3;
// The low 32 bits of a slot: a 32-bit argument, or a value cut to 32 bits.
constexpr UINT64 LOW_32_BITS = 0xFFFFFFFFULL;

// Sign prefixes of an integer field.
constexpr UINT16 MINUS_PREFIX = '-';
constexpr UINT16 PLUS_PREFIX = '+';
constexpr UINT16 SPACE_PREFIX = ' ';

// Zero fill up to the width applies when ZERO_PAD and HAS_WIDTH are set and LEFT_ALIGN and
// HAS_PRECISION are clear.
constexpr FormatFlags ZERO_FILL_TEST = ZERO_PAD | HAS_WIDTH | LEFT_ALIGN | HAS_PRECISION;
constexpr FormatFlags ZERO_FILL_WANTED = ZERO_PAD | HAS_WIDTH;
static_assert(ZERO_FILL_TEST == 0x0A21 && ZERO_FILL_WANTED == 0x0220);

// The integer argument of a slot: the whole slot with LONG_ARG, else its low 4 bytes as a
// signed 32-bit value widened to 64 bits.
UINT64 IntegerArgument(ArgumentSlot Slot, FormatFlags Flags) {
  if ((Flags & LONG_ARG) != 0) {
    return Slot;
  }
  const auto Low = static_cast<UINT32>(Slot & LOW_32_BITS);
  return static_cast<UINT64>(static_cast<INT64>(static_cast<INT32>(Low)));
}

// The prefix chosen from the sign flags, before the radix is known: "+" wins over " ".
UINT16 SignPrefix(FormatFlags Flags) {
  if ((Flags & SIGN_PLUS) != 0) {
    return PLUS_PREFIX;
  }
  return (Flags & SIGN_SPACE) != 0 ? SPACE_PREFIX : 0;
}

// Precision + 1 for the prefix; a precision already at the top stays there.
UINT64 GrowPrecision(UINT64 Precision) {
  return SaturatingAdd(Precision, 1);
}

// Stores the digits of Value in Radix after Scratch, least significant first; returns the last
// one stored.
template <UINTN Radix>
CHAR8 *StoreDigits(CHAR8 *Scratch, UINT64 Value) {
  CHAR8 *Digit = Scratch;
  do {
    *++Digit = DIGIT_CHARS[Value % Radix];
    Value /= Radix;
  } while (Value != 0);
  return Digit;
}

// Decimal digit pairs "00" to "99": two digits per division.
constexpr UINT64 DECIMAL_PAIR_BASE = 100;
constexpr CHAR8 DECIMAL_PAIRS[] = "00010203040506070809101112131415161718192021222324252627282930"
                                  "31323334353637383940414243444546474849505152535455565758596061"
                                  "62636465666768697071727374757677787980818283848586878889909192"
                                  "93949596979899";
static_assert(sizeof(DECIMAL_PAIRS) == 2 * DECIMAL_PAIR_BASE + 1);
static_assert(DECIMAL_PAIRS[2 * UINTN{42}] == '4' && DECIMAL_PAIRS[2 * UINTN{42} + 1] == '2');

// StoreDigits for radix 10, two digits at a time while at least three are left; the last one
// or two digits come straight from the tables, without a division.
CHAR8 *StoreDecimalDigits(CHAR8 *Scratch, UINT64 Value) {
  CHAR8 *Digit = Scratch;
  while (Value >= DECIMAL_PAIR_BASE) {
    const UINT64 Pair = 2 * (Value % DECIMAL_PAIR_BASE);
    Value /= DECIMAL_PAIR_BASE;
    *++Digit = DECIMAL_PAIRS[Pair + 1];
    *++Digit = DECIMAL_PAIRS[Pair];
  }
  if (Value >= DECIMAL_RADIX) {
    *++Digit = DECIMAL_PAIRS[2 * Value + 1];
    *++Digit = DECIMAL_PAIRS[2 * Value];
    return Digit;
  }
  *++Digit = DIGIT_CHARS[Value];
  return Digit;
}

// The value whose digits an integer conversion prints, from its argument Value and the
// conversion's Flags. A negative signed decimal gives its magnitude, negated in 64-bit
// arithmetic so that the most negative value prints as its unsigned magnitude, and sets Prefix
// to "-"; a 32-bit unsigned decimal, and a negative 32-bit hexadecimal, are cut to their low
// 32 bits. Any other value is printed as it is, and Prefix is left unchanged.
UINT64 PrintedValue(UINT64 Value, FormatFlags Flags, UINT16 &Prefix) {
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

} // namespace

// Stores a NUL at Scratch and the digits of Value after it, least significant first (a value
// of 0 gives "0"). Radix is 10 or 16; any radix outside 2 to 16 is taken as 10. Returns the
// last digit stored, the most significant one.
CHAR8 *ValueToDigits(CHAR8 *Scratch, UINT64 Value, UINTN Radix) {
  if (Radix < 2 || Radix > HEX_RADIX_BASE) {
    Radix = DECIMAL_RADIX;
  }
  *Scratch = '\0';
  // The two radixes in use divide by constants, which compile to multiplications and shifts.
  if (Radix == DECIMAL_RADIX) {
    return StoreDecimalDigits(Scratch, Value);
  }
  if (Radix == HEX_RADIX_BASE) {
    return StoreDigits<HEX_RADIX_BASE>(Scratch, Value);
  }
  CHAR8 *Digit = Scratch;
  do {
    *++Digit = DIGIT_CHARS[Value % Radix];
    Value /= Radix;
  } while (Value != 0);
  return Digit;
}

// Field arrives with the conversion's flags set (UNSIGNED_ARG for "u", HEX_RADIX for the
// hexadecimal ones, LONG_ARG for "p" or "l"); leaves a numeric field with a reversed digit
// run whose count includes prefix and commas.
void ConvertInteger(FormatCall &Call, Directive &Field) {
  Field.Prefix = SignPrefix(Field.Flags);
  const bool Hex = (Field.Flags & HEX_RADIX) != 0;
  const bool Grouping = !Hex && (Field.Flags & GROUP_COMMAS) != 0;
  // Grouped decimals take neither a precision nor zero fill.
  if (Grouping) {
    Field.Flags &= ~ZERO_PAD;
    Field.Precision = DEFAULT_PRECISION;
  }
  const UINT64 Value =
      PrintedValue(IntegerArgument(TakeArgument(Call), Field.Flags), Field.Flags, Field.Prefix);
  const UINTN Radix = Hex ? HEX_RADIX_BASE : DECIMAL_RADIX;

  CHAR8 *MostSignificant = ValueToDigits(Call.Scratch, Value, Radix);
  UINT64 Digits = static_cast<UINT64>(MostSignificant - Call.Scratch);
  if (Value == 0 && Field.Precision == 0) {
    // An empty digit run: the text is the NUL in front of the digits.
    Digits = 0;
    MostSignificant = Call.Scratch;
  }
  const UINT64 Leading = Digits % COMMA_GROUP_DIGITS;
  Field.GroupPhase = Leading == 0 ? 0 : COMMA_GROUP_DIGITS - Leading;
  if (Grouping && Digits > 0) {
    Digits += (Digits - 1) / COMMA_GROUP_DIGITS;
  }
  if (Field.Prefix != 0) {
    ++Digits;
    Field.Precision = GrowPrecision(Field.Precision);
  }

  Field.Count = Digits;
  Field.Text = AsBytes(MostSignificant);
  Field.Flags |= REVERSED_DIGITS;
  Field.Numeric = true;
  if ((Field.Flags & ZERO_FILL_TEST) == ZERO_FILL_WANTED) {
    Field.Precision = Field.Width;
  }
}

// A directive that is a conversion alone: no option, width or precision, so its precision is
// the default 1, which a digit run always meets, and only a negative signed decimal has a
// prefix. What ConvertInteger and the output stage would produce is therefore the prefix and
// the digits as they are, which go to the sink straight from the scratch area.
void EmitPlainInteger(FormatCall &Call, FormatFlags Flags) {
  UINT16 Prefix = 0;
  const UINT64 Value = PrintedValue(IntegerArgument(TakeArgument(Call), Flags), Flags, Prefix);
  const CHAR8 *MostSignificant = (Flags & HEX_RADIX) != 0
                                     ? StoreDigits<HEX_RADIX_BASE>(Call.Scratch, Value)
                                     : StoreDecimalDigits(Call.Scratch, Value);
  if (Prefix != 0) {
    EmitChar(Call.Sink, Prefix);
  }
  EmitDigitRun(Call.Sink, MostSignificant, static_cast<UINT64>(MostSignificant - Call.Scratch));
}
