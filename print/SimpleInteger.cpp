// Simple integer directives: an integer conversion with at most a "0" flag and a short width,
// such as "%u", "%lu", "%5d" or "%016lX". They are recognised and rendered to their finished
// text in one step, built backwards at the end of the call's scratch area, so the walk copies
// the field as it is; every other directive takes the general parse and the common output
// stage, whose result this one matches.
#include "print/DigitText.h"
#include "print/FormatDirective.h"

// The wide walk writes the report's plain decimals itself while the room holds their longest
// field; only widths, zero fill, narrow formats and the buffer's last slots come here: built
// for size.
#pragma clang attribute push(__attribute__((minsize)), apply_to = function)

namespace {

// Widths below this fit, with any digits and sign, in the scratch area; a larger one, or a
// run of width digits that reaches it, leaves the directive to the general path.
constexpr UINT64 SIMPLE_WIDTH_LIMIT = FORMAT_SCRATCH_CHARS - 1;
static_assert(SIMPLE_WIDTH_LIMIT > MAX_INTEGER_DIGITS + 1);

constexpr UINT64 DECIMAL_BASE = 10;
constexpr CHAR8 PAD_TEXT_CHAR = ' ';
constexpr CHAR8 ZERO_TEXT_CHAR = '0';

// The parsed form of a simple integer directive.
struct SimpleDirective {
  FormatFlags Flags; // LONG_ARG, UNSIGNED_ARG, HEX_RADIX and ZERO_PAD as the directive sets them
  UINT64 Width;      // 0 without width digits
};

constexpr bool IsDecimalDigit(UINT16 Character) {
  return Character >= '0' && Character <= '9';
}

// Recognises, right after a "%", an optional "0", width digits below SIMPLE_WIDTH_LIMIT, any
// number of "l" or "L", then "d", "u", "x", "X" or "p". Returns the conversion character's
// position and fills Parsed, or returns null for any other directive. A "0" fill needs a
// width; without one the ZERO_PAD of "0", "X" and "p" is dropped, as it changes nothing.
const UINT8 *ParseSimple(const UINT8 *Cursor, UINTN FormatBytes, SimpleDirective &Parsed) {
  FormatFlags Flags = 0;
  UINT16 Character = ReadChar(Cursor, FormatBytes);
  if (Character == '0') {
    Flags |= ZERO_PAD;
  }
  bool HasWidth = false;
  UINT64 Width = 0;
  while (IsDecimalDigit(Character)) {
    Width = Width * DECIMAL_BASE + static_cast<UINT64>(Character - '0');
    if (Width >= SIMPLE_WIDTH_LIMIT) {
      return nullptr;
    }
    HasWidth = true;
    Cursor += FormatBytes;
    Character = ReadChar(Cursor, FormatBytes);
  }
  while (Character == 'l' || Character == 'L') {
    Flags |= LONG_ARG;
    Cursor += FormatBytes;
    Character = ReadChar(Cursor, FormatBytes);
  }
  switch (Character) {
  case 'd':
    break;
  case 'u':
    Flags |= UNSIGNED_ARG;
    break;
  case 'x':
    Flags |= HEX_RADIX;
    break;
  case 'X':
    Flags |= HEX_RADIX | ZERO_PAD;
    break;
  case 'p':
    Flags |= LONG_ARG | HEX_RADIX | ZERO_PAD;
    break;
  default:
    return nullptr;
  }
  Parsed.Flags = HasWidth ? Flags : Flags & ~ZERO_PAD;
  Parsed.Width = Width;
  return Cursor;
}

// Stores the digits of Value in decimal or hexadecimal just before Text, the least
// significant last; returns the first one.
CHAR8 *StoreDigitsBefore(CHAR8 *Text, UINT64 Value, bool Hex) {
  if (Hex) {
    do {
      *--Text = DIGIT_CHARS[Value & HEX_DIGIT_MASK];
      Value >>= HEX_DIGIT_BITS;
    } while (Value != 0);
    return Text;
  }
  while (Value >= DECIMAL_PAIR_BASE) {
    const UINT64 Pair = 2 * (Value % DECIMAL_PAIR_BASE);
    Value /= DECIMAL_PAIR_BASE;
    *--Text = DECIMAL_PAIRS[Pair + 1];
    *--Text = DECIMAL_PAIRS[Pair];
  }
  if (Value >= DECIMAL_RADIX) {
    *--Text = DECIMAL_PAIRS[2 * Value + 1];
    *--Text = DECIMAL_PAIRS[2 * Value];
    return Text;
  }
  *--Text = DIGIT_CHARS[Value];
  return Text;
}

} // namespace

// The field the general path prints for such a directive: its precision is the default 1,
// which a digit run always meets, and only a negative signed decimal has a prefix. With zero
// fill the prefix comes first and zeros fill the field up to its width; otherwise blanks do,
// before the prefix. A field never gets shorter than its prefix and digits.
const UINT8 *SimpleInteger(FormatCall &Call, const UINT8 *Cursor, UINTN FormatBytes,
                           const CHAR8 *&Text, UINTN &Count) {
  SimpleDirective Parsed;
  const UINT8 *Last = ParseSimple(Cursor, FormatBytes, Parsed);
  if (Last == nullptr) {
    return nullptr;
  }
  UINT16 Prefix = 0;
  const UINT64 Value =
      PrintedValue(IntegerArgument(TakeArgument(Call), Parsed.Flags), Parsed.Flags, Prefix);
  CHAR8 *const FieldEnd = Call.Scratch + FORMAT_SCRATCH_CHARS;
  CHAR8 *First = StoreDigitsBefore(FieldEnd, Value, (Parsed.Flags & HEX_RADIX) != 0);
  const UINT64 Width = Parsed.Width;
  const UINT64 Sign = Prefix != 0 ? 1 : 0;
  // Fills are short: plain loops beat vectorised ones' set-up.
  if ((Parsed.Flags & ZERO_PAD) != 0) {
#pragma clang loop unroll(disable) vectorize(disable)
    while (static_cast<UINT64>(FieldEnd - First) + Sign < Width) {
      *--First = ZERO_TEXT_CHAR;
    }
  }
  if (Prefix != 0) {
    *--First = static_cast<CHAR8>(Prefix);
  }
#pragma clang loop unroll(disable) vectorize(disable)
  while (static_cast<UINT64>(FieldEnd - First) < Width) {
    *--First = PAD_TEXT_CHAR;
  }
  Text = First;
  Count = static_cast<UINTN>(FieldEnd - First);
  return Last;
}

#pragma clang attribute pop
