// The format engine's walk: entry checks, one pass over the format string with directive
// parsing and line-end handling, every format character ending in the common output stage,
// then termination and the result.
#include "print/FormatDirective.h"

namespace {

// Characters of the format grammar.
constexpr UINT16 LINE_FEED = '\n';
constexpr UINT16 CARRIAGE_RETURN = '\r';
constexpr UINT16 PERCENT = '%';
constexpr UINT16 NUL_CHAR = 0;

// What a line feed, a carriage return followed by a line feed, or a line feed followed by a
// carriage return emit; and what a lone carriage return emits.
constexpr CHAR8 LINE_END_TEXT[] = "\r\n";
constexpr CHAR8 LONE_CARRIAGE_RETURN_TEXT[] = "\r";

constexpr UINT64 DECIMAL_BASE = 10;

// Characters of a narrow or wide format string before its terminator, reading at most
// FORMAT_LENGTH_OVERFLOW characters.
UINT64 FormatLength(const void *Format, bool Wide) {
  if (Wide) {
    return WideStrLenBounded(static_cast<const CHAR16 *>(Format));
  }
  const auto *Bytes = static_cast<const UINT8 *>(Format);
  UINT64 Length = 0;
  while (Length < FORMAT_LENGTH_OVERFLOW && Bytes[Length] != 0) {
    ++Length;
  }
  return Length;
}

// Sets Field for the line end at Cursor (a line feed or carriage return) and returns the last
// format character it consumes: a pair of either order is one line end.
const UINT8 *LineEnd(const UINT8 *Cursor, UINTN FormatBytes, UINT16 Character, Directive &Field) {
  const UINT16 Next = ReadChar(Cursor + FormatBytes, FormatBytes);
  Field.Flags &= ~WIDE_ARGUMENT;
  if (Character == LINE_FEED) {
    Field.Text = AsBytes(LINE_END_TEXT);
    return Next == CARRIAGE_RETURN ? Cursor + FormatBytes : Cursor;
  }
  if (Next == LINE_FEED) {
    Field.Text = AsBytes(LINE_END_TEXT);
    return Cursor + FormatBytes;
  }
  Field.Text = AsBytes(LONE_CARRIAGE_RETURN_TEXT);
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

// Parses the directive whose "%" is just before Cursor and sets Field for the output stage.
// Returns the last format character it consumes; Ended is set when the format ends inside the
// directive.
const UINT8 *ParseDirective(FormatCall &Call, const UINT8 *Cursor, UINTN FormatBytes,
                            Directive &Field, bool &Ended) {
  for (;;) {
    const UINT16 Character = ReadChar(Cursor, FormatBytes);
    switch (Character) {
    case ' ':
      Field.Flags |= SIGN_SPACE;
      break;
    case '+':
      Field.Flags |= SIGN_PLUS;
      break;
    case '-':
      Field.Flags |= LEFT_ALIGN;
      break;
    case ',':
      Field.Flags |= GROUP_COMMAS;
      break;
    case '.':
      Field.Flags |= HAS_PRECISION;
      break;
    case 'l':
    case 'L':
      Field.Flags |= LONG_ARG;
      break;
    case '*':
      SetWidthOrPrecision(Field, TakeArgument(Call));
      break;
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
      if (Character == '0' && (Field.Flags & HAS_PRECISION) == 0) {
        Field.Flags |= ZERO_PAD;
      }
      // The longest run of digits, wrapping modulo 2^64.
      UINT64 Value = 0;
      UINT16 Digit = Character;
      while (Digit >= '0' && Digit <= '9') {
        Value = Value * DECIMAL_BASE + (Digit - '0');
        Cursor += FormatBytes;
        Digit = ReadChar(Cursor, FormatBytes);
      }
      SetWidthOrPrecision(Field, Value);
      // Cursor is on the first character after the digits.
      continue;
    }
    default:
      break;
    }
    if (Character == ' ' || Character == '+' || Character == '-' || Character == ',' ||
        Character == '.' || Character == 'l' || Character == 'L' || Character == '*') {
      Cursor += FormatBytes;
      continue;
    }

    // The conversion character.
    switch (Character) {
    case 'u':
      Field.Flags = (Field.Flags & ~SIGN_PLUS) | UNSIGNED_ARG;
      ConvertInteger(Call, Field);
      return Cursor;
    case 'd':
      ConvertInteger(Call, Field);
      return Cursor;
    case 'x':
      Field.Flags |= HEX_RADIX;
      ConvertInteger(Call, Field);
      return Cursor;
    case 'X':
      Field.Flags |= ZERO_PAD | HEX_RADIX;
      ConvertInteger(Call, Field);
      return Cursor;
    case 'p':
      Field.Flags = (Field.Flags & ~(SIGN_SPACE | SIGN_PLUS)) | LONG_ARG | ZERO_PAD | HEX_RADIX;
      ConvertInteger(Call, Field);
      return Cursor;
    case LINE_FEED:
    case CARRIAGE_RETURN:
      return LineEnd(Cursor, FormatBytes, Character, Field);
    case NUL_CHAR:
      // The format ends inside the directive: only the padding a width asks for is printed.
      Field.Precision = 0;
      SingleCharacter(Call, Field, NUL_CHAR);
      Ended = true;
      return Cursor;
    default:
      if (!ConvertExtended(Call, Field, Character)) {
        // Unrecognised: the character itself, without the "%".
        SingleCharacter(Call, Field, Character);
      }
      return Cursor;
    }
  }
}

} // namespace

ArgumentSlot TakeArgument(FormatCall &Call) {
  if (Call.NextArgument == nullptr) {
    return 0;
  }
  return *Call.NextArgument++;
}

UINT64 FormatCore(void *Buffer, UINT64 BufferSize, FormatFlags Flags, const void *Format,
                  const ArgumentSlot *Arguments) {
  const bool CountOnly = (Flags & COUNT_ONLY) != 0;
  const bool WideFormat = (Flags & WIDE_FORMAT) != 0;
  if (BufferSize != 0 && !CountOnly && Buffer == nullptr) {
    return 0;
  }
  if ((BufferSize != 0 || CountOnly) && Format == nullptr) {
    return 0;
  }
  if (BufferSize > FORMAT_MAX_CHARS) {
    return 0;
  }
  if (Format != nullptr && FormatLength(Format, WideFormat) > FORMAT_MAX_CHARS) {
    return 0;
  }
  if (BufferSize == 0) {
    if (!CountOnly) {
      return 0;
    }
    Buffer = nullptr;
  }

  const UINTN OutputBytes = (Flags & WIDE_OUTPUT) != 0 ? WIDE_CHAR_BYTES : NARROW_CHAR_BYTES;
  const UINTN FormatBytes = WideFormat ? WIDE_CHAR_BYTES : NARROW_CHAR_BYTES;
  auto *Start = static_cast<UINT8 *>(Buffer);

  FormatCall Call;
  Call.NextArgument = Arguments;
  // Counting never writes, so a buffer handed along with COUNT_ONLY does not limit the count.
  Call.Sink.Counting = CountOnly;
  Call.Sink.Tally = 0;
  Call.Sink.BytesPerChar = OutputBytes;
  Call.Sink.Position = CountOnly ? nullptr : Start;
  Call.Sink.End = CountOnly ? nullptr : Start + (BufferSize - 1) * OutputBytes;

  const auto *Cursor = static_cast<const UINT8 *>(Format);
  bool Ended = false;
  while (!Ended) {
    const UINT16 Character = ReadChar(Cursor, FormatBytes);
    if (Character == NUL_CHAR || SinkFull(Call.Sink)) {
      break;
    }
    Directive Field{};
    Field.Flags = Flags & CALLER_FLAGS;
    Field.Precision = DEFAULT_PRECISION;
    if (Character == LINE_FEED || Character == CARRIAGE_RETURN) {
      Cursor = LineEnd(Cursor, FormatBytes, Character, Field);
    } else if (Character == PERCENT) {
      Cursor = ParseDirective(Call, Cursor + FormatBytes, FormatBytes, Field, Ended);
    } else {
      SingleCharacter(Call, Field, Character);
    }
    EmitField(Call.Sink, Field);
    Cursor += FormatBytes;
  }

  if (CountOnly) {
    return Call.Sink.Tally;
  }
  // The terminator goes at the write position, which is at most the end position.
  FillChars(Call.Sink.Position, Call.Sink.Position + OutputBytes, 1, NUL_CHAR, OutputBytes);
  return static_cast<UINT64>(Call.Sink.Position - Start) / OutputBytes;
}
