// Integer conversions of the format engine ("d", "u", "x", "X", "p"): the argument slot is
// read as a 32-bit or 64-bit value, given its sign prefix, turned into a digit run in the
// call's scratch area (least significant digit first, after a NUL) and handed to the output
// stage to be read backwards.
#include "print/DigitText.h"
#include "print/FormatDirective.h"

namespace {

// Decimal digits per comma group.
constexpr UINT64 COMMA_GROUP_DIGITS = 3;

// Sign prefixes of an integer field.
constexpr UINT16 PLUS_PREFIX = '+';
constexpr UINT16 SPACE_PREFIX = ' ';

// Zero fill up to the width applies when ZERO_PAD and HAS_WIDTH are set and LEFT_ALIGN and
// HAS_PRECISION are clear.
constexpr FormatFlags ZERO_FILL_TEST = ZERO_PAD | HAS_WIDTH | LEFT_ALIGN | HAS_PRECISION;
constexpr FormatFlags ZERO_FILL_WANTED = ZERO_PAD | HAS_WIDTH;
static_assert(ZERO_FILL_TEST == 0x0A21 && ZERO_FILL_WANTED == 0x0220);

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

} // namespace

// The last one or two digits come straight from the tables, without a division.
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

// Stores a NUL at Scratch and the digits of Value after it, least significant first (a value
// of 0 gives "0"). Radix is 10 or 16; any radix outside 2 to 16 is taken as 10. Returns the
// last digit stored, the most significant one.
[[clang::minsize]] CHAR8 *ValueToDigits(CHAR8 *Scratch, UINT64 Value, UINTN Radix) {
  if (Radix < 2 || Radix > HEX_RADIX_BASE) {
    Radix = DECIMAL_RADIX;
  }
  *Scratch = '\0';
  // The two radixes in use divide by constants, which compile to multiplications and shifts.
  if (Radix == DECIMAL_RADIX) {
    return StoreDecimalDigits(Scratch, Value);
  }
  if (Radix == HEX_RADIX_BASE) {
    return StoreHexDigits(Scratch, Value);
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
[[clang::minsize]] void ConvertInteger(FormatCall &Call, Directive &Field) {
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
