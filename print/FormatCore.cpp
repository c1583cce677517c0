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

// A format character that stands for itself: not a directive, a line end or the terminator.
constexpr bool IsOrdinary(UINT16 Character) {
  return Character != PERCENT && Character != LINE_FEED && Character != CARRIAGE_RETURN &&
         Character != NUL_CHAR;
}

// Copies the run of ordinary characters from Cursor on to Position, until a character that
// is not ordinary or until no character slot is left before End; returns the position of the
// first format character not copied. The widths are constants, so that each width pair gets a
// loop of its own.
template <UINTN FormatBytes, UINTN OutputBytes>
const UINT8 *CopyOrdinaryRun(UINT8 *&Position, const UINT8 *End, const UINT8 *Cursor) {
  UINT8 *Write = Position;
  while (End - Write >= static_cast<INTN>(OutputBytes)) {
    const UINT16 Character = ReadChar(Cursor, FormatBytes);
    if (!IsOrdinary(Character)) {
      break;
    }
    StoreChar(Write, OutputBytes, Character);
    Write += OutputBytes;
    Cursor += FormatBytes;
  }
  Position = Write;
  return Cursor;
}

// Emits the run of ordinary characters from Cursor on and returns the position of the first
// format character after it. Each is a one-character field without options, which the output
// stage emits as it is, so the run is copied directly: until a character that is not ordinary,
// or, when writing, until no character slot is left before the end position.
const UINT8 *EmitOrdinaryRun(OutputSink &Sink, const UINT8 *Cursor, UINTN FormatBytes) {
  if (Sink.Counting) {
    UINT64 Run = 0;
    while (IsOrdinary(ReadChar(Cursor, FormatBytes))) {
      ++Run;
      Cursor += FormatBytes;
    }
    Sink.Tally = SaturatingAdd(Sink.Tally, Run);
    return Cursor;
  }
  const bool WideOutput = Sink.BytesPerChar == WIDE_CHAR_BYTES;
  if (FormatBytes == WIDE_CHAR_BYTES) {
    return WideOutput
               ? CopyOrdinaryRun<WIDE_CHAR_BYTES, WIDE_CHAR_BYTES>(Sink.Position, Sink.End, Cursor)
               : CopyOrdinaryRun<WIDE_CHAR_BYTES, NARROW_CHAR_BYTES>(Sink.Position, Sink.End,
                                                                     Cursor);
  }
  return WideOutput
             ? CopyOrdinaryRun<NARROW_CHAR_BYTES, WIDE_CHAR_BYTES>(Sink.Position, Sink.End, Cursor)
             : CopyOrdinaryRun<NARROW_CHAR_BYTES, NARROW_CHAR_BYTES>(Sink.Position, Sink.End,
                                                                     Cursor);
}

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

// Recognises, right after a "%", an integer directive that is a conversion alone: any number
// of "l" or "L", then "d", "u", "x", "X" or "p", with no option, width or precision. Returns
// the conversion character's position and sets Conversion to the flags it implies, or returns
// null for any other directive. The "0" fill that "X" and "p" ask for needs a width, so their
// ZERO_PAD is left out.
const UINT8 *PlainIntegerDirective(const UINT8 *Cursor, UINTN FormatBytes,
                                   FormatFlags &Conversion) {
  FormatFlags Flags = 0;
  UINT16 Character = ReadChar(Cursor, FormatBytes);
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
  case 'X':
    Flags |= HEX_RADIX;
    break;
  case 'p':
    Flags |= LONG_ARG | HEX_RADIX;
    break;
  default:
    return nullptr;
  }
  Conversion = Flags;
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

// Entry checks refuse a call with 0 before anything is written; then one walk renders the
// format, each character or directive ending in the output stage, until the format's end or,
// when writing, until only the terminator's slot is left.
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
    if (IsOrdinary(Character)) {
      Cursor = EmitOrdinaryRun(Call.Sink, Cursor, FormatBytes);
      continue;
    }
    if (Character == LINE_FEED || Character == CARRIAGE_RETURN) {
      // A line end outside a directive has no options: its characters are emitted as they are.
      const CHAR8 *Text = nullptr;
      Cursor = LineEnd(Cursor, FormatBytes, Character, Text);
      for (; *Text != '\0'; ++Text) {
        EmitChar(Call.Sink, static_cast<UINT8>(*Text));
      }
    } else {
      // The report's own directives are plain integers; they skip the general parse.
      FormatFlags Conversion = 0;
      const UINT8 *Plain = PlainIntegerDirective(Cursor + FormatBytes, FormatBytes, Conversion);
      if (Plain != nullptr) {
        EmitPlainInteger(Call, Conversion);
        Cursor = Plain;
      } else {
        Directive Field{};
        Field.Flags = Flags & CALLER_FLAGS;
        Field.Precision = DEFAULT_PRECISION;
        Cursor = ParseDirective(Call, Cursor + FormatBytes, FormatBytes, Field, Ended);
        EmitField(Call.Sink, Field);
      }
    }
    Cursor += FormatBytes;
  }

  if (CountOnly) {
    return Call.Sink.Tally;
  }
  // The terminator goes at the write position, which is at most the end position, so its
  // slot is always there.
  StoreChar(Call.Sink.Position, OutputBytes, NUL_CHAR);
  return static_cast<UINT64>(Call.Sink.Position - Start) / OutputBytes;
}
