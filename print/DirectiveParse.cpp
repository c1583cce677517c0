// The general directive path of the format engine: options, width and precision in any order,
// then the conversion character, and the common output stage for the field. Every directive
// that is not a plain integer comes here; the report's own directives never do.
#include "print/FormatDirective.h"

// Rarely used: every function of this file is built for size.
#pragma clang attribute push(__attribute__((minsize)), apply_to = function)

namespace {

// Characters of the directive grammar.
constexpr UINT16 LINE_FEED = '\n';
constexpr UINT16 CARRIAGE_RETURN = '\r';
constexpr UINT16 NUL_CHAR = 0;

// What a line feed, a carriage return followed by a line feed, or a line feed followed by a
// carriage return emit as a directive's conversion; and what a lone carriage return emits.
constexpr CHAR8 LINE_END_TEXT[] = "\r\n";
constexpr CHAR8 LONE_CARRIAGE_RETURN_TEXT[] = "\r";

constexpr UINT64 DECIMAL_BASE = 10;

// Chooses the text of the line end at Cursor (a line feed or carriage return) and returns the
// last format character it consumes: a pair of either order is one line end.
const UINT8 *LineEnd(const UINT8 *Cursor, UINTN FormatBytes, UINT16 Character, const CHAR8 *&Text) {
  const UINT16 Next = ReadChar(Cursor + FormatBytes, FormatBytes);
  if (Character == LINE_FEED) {
    Text = LINE_END_TEXT;
    return Next == CARRIAGE_RETURN ? Cursor + FormatBytes : Cursor;
  }
  if (Next == LINE_FEED) {
    Text = LINE_END_TEXT;
    return Cursor + FormatBytes;
  }
  Text = LONE_CARRIAGE_RETURN_TEXT;
  return Cursor;
}

// Stores Value as the precision after a ".", otherwise as the width.
void SetWidthOrPrecision(Directive &Field, UINT64 Value) {
  if ((Field.Flags & HAS_PRECISION) != 0) {
    Field.Precision = Value;
  } else {
    Field.Width = Value;
    Field.Flags |= HAS_WIDTH;
  }
}

// The argument string of a one-character field: the character and a NUL character.
void SingleCharacter(FormatCall &Call, Directive &Field, UINT16 Character) {
  Call.CharText[0] = static_cast<UINT8>(Character);
  Call.CharText[1] = static_cast<UINT8>(Character >> HIGH_BYTE_SHIFT);
  Call.CharText[2] = 0;
  Call.CharText[3] = 0;
  Field.Flags |= WIDE_ARGUMENT;
  Field.Text = Call.CharText;
}

// Sets the flag of a directive's option character (" ", "+", "-", ",", ".", "l", "L").
// Returns false for any other character.
bool SetOptionFlag(Directive &Field, UINT16 Character) {
  switch (Character) {
  case ' ':
    Field.Flags |= SIGN_SPACE;
    return true;
  case '+':
    Field.Flags |= SIGN_PLUS;
    return true;
  case '-':
    Field.Flags |= LEFT_ALIGN;
    return true;
  case ',':
    Field.Flags |= GROUP_COMMAS;
    return true;
  case '.':
    // The precision keeps its value until digits or "*" follow.
    Field.Flags |= HAS_PRECISION;
    return true;
  case 'l':
  case 'L':
    Field.Flags |= LONG_ARG;
    return true;
  default:
    return false;
  }
}

constexpr bool IsDecimalDigit(UINT16 Character) {
  return Character >= '0' && Character <= '9';
}

// Reads the run of decimal digits starting at Cursor as the width, or after a "." as the
// precision; the value wraps modulo 2^64. A leading "0" before any "." also asks for zero
// fill. Returns the position of the last digit.
const UINT8 *ReadNumber(const UINT8 *Cursor, UINTN FormatBytes, Directive &Field) {
  UINT16 Digit = ReadChar(Cursor, FormatBytes);
  if (Digit == '0' && (Field.Flags & HAS_PRECISION) == 0) {
    Field.Flags |= ZERO_PAD;
  }
  UINT64 Value = 0;
  for (;;) {
    Value = Value * DECIMAL_BASE + static_cast<UINT64>(Digit - '0');
    const UINT16 Next = ReadChar(Cursor + FormatBytes, FormatBytes);
    if (!IsDecimalDigit(Next)) {
      break;
    }
    Cursor += FormatBytes;
    Digit = Next;
  }
  SetWidthOrPrecision(Field, Value);
  return Cursor;
}

// Applies the conversion character at Cursor to Field. Returns the last format character the
// directive consumes; Ended is set when the format ends inside the directive.
const UINT8 *Convert(FormatCall &Call, const UINT8 *Cursor, UINTN FormatBytes, Directive &Field,
                     bool &Ended) {
  const UINT16 Character = ReadChar(Cursor, FormatBytes);
  switch (Character) {
  case 'd':
    break;
  case 'u':
    Field.Flags = (Field.Flags & ~SIGN_PLUS) | UNSIGNED_ARG;
    break;
  case 'x':
    Field.Flags |= HEX_RADIX;
    break;
  case 'X':
    Field.Flags |= ZERO_PAD | HEX_RADIX;
    break;
  case 'p':
    Field.Flags = (Field.Flags & ~(SIGN_SPACE | SIGN_PLUS)) | LONG_ARG | ZERO_PAD | HEX_RADIX;
    break;
  case LINE_FEED:
  case CARRIAGE_RETURN: {
    // The "%" is dropped; width and precision apply to the line end.
    const CHAR8 *Text = nullptr;
    Cursor = LineEnd(Cursor, FormatBytes, Character, Text);
    Field.Flags &= ~WIDE_ARGUMENT;
    Field.Text = AsBytes(Text);
    return Cursor;
  }
  case NUL_CHAR:
    // Only the padding that a width already asks for is printed.
    Field.Precision = 0;
    SingleCharacter(Call, Field, NUL_CHAR);
    Ended = true;
    return Cursor;
  default:
    if (!ConvertExtended(Call, Field, Character)) {
      // Unrecognised, "%" included: the character itself, without the "%" and no slot.
      SingleCharacter(Call, Field, Character);
    }
    return Cursor;
  }
  ConvertInteger(Call, Field);
  return Cursor;
}

// Parses the directive whose "%" is just before Cursor: options in any order and number, then
// the conversion character. Returns the last format character the directive consumes.
const UINT8 *ParseDirective(FormatCall &Call, const UINT8 *Cursor, UINTN FormatBytes,
                            Directive &Field, bool &Ended) {
  for (;; Cursor += FormatBytes) {
    const UINT16 Character = ReadChar(Cursor, FormatBytes);
    if (SetOptionFlag(Field, Character)) {
      continue;
    }
    if (Character == '*') {
      SetWidthOrPrecision(Field, TakeArgument(Call));
    } else if (IsDecimalDigit(Character)) {
      Cursor = ReadNumber(Cursor, FormatBytes, Field);
    } else {
      return Convert(Call, Cursor, FormatBytes, Field, Ended);
    }
  }
}

} // namespace

// The directive's state starts from the caller's flags and the default precision; the field
// it parses goes through the common output stage.
const UINT8 *EmitGeneralDirective(FormatCall &Call, const UINT8 *Cursor, UINTN FormatBytes,
                                  FormatFlags CallerFlags, bool &Ended) {
  Directive Field{};
  Field.Flags = CallerFlags & CALLER_FLAGS;
  Field.Precision = DEFAULT_PRECISION;
  Cursor = ParseDirective(Call, Cursor, FormatBytes, Field, Ended);
  EmitField(Call.Sink, Field);
  return Cursor;
}

#pragma clang attribute pop
