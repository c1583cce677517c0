// The format engine's walk: entry checks, then one pass over the format string in which runs
// of ordinary characters, line ends and plain integer directives go straight to the buffer and
// every other directive takes the general path; then termination and the result.
#include "print/DigitText.h"
#include "print/FormatDirective.h"

namespace {

// Characters of the format grammar.
constexpr UINT16 LINE_FEED = '\n';
constexpr UINT16 CARRIAGE_RETURN = '\r';
constexpr UINT16 PERCENT = '%';
constexpr UINT16 NUL_CHAR = 0;

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
// loop of its own, bounded by the room counted once.
template <UINTN FormatBytes, UINTN OutputBytes>
const UINT8 *CopyOrdinaryRun(UINT8 *&Position, const UINT8 *End, const UINT8 *Cursor) {
  UINT8 *Write = Position;
  const auto Room = static_cast<UINTN>(End - Write) / OutputBytes;
  UINTN Index = 0;
  for (; Index < Room; ++Index) {
    const UINT16 Character = ReadChar(Cursor + Index * FormatBytes, FormatBytes);
    if (!IsOrdinary(Character)) {
      break;
    }
    StoreChar(Write + Index * OutputBytes, OutputBytes, Character);
  }
  Position = Write + Index * OutputBytes;
  return Cursor + Index * FormatBytes;
}

// Writes the run of ordinary characters from Cursor on, each a one-character field without
// options that the output stage would emit as it is, up to the end position; returns the
// position of the first format character not written.
const UINT8 *WriteOrdinaryRun(UINT8 *&Position, const UINT8 *End, const UINT8 *Cursor,
                              UINTN FormatBytes, UINTN OutputBytes) {
  if (FormatBytes == WIDE_CHAR_BYTES) {
    return OutputBytes == WIDE_CHAR_BYTES
               ? CopyOrdinaryRun<WIDE_CHAR_BYTES, WIDE_CHAR_BYTES>(Position, End, Cursor)
               : CopyOrdinaryRun<WIDE_CHAR_BYTES, NARROW_CHAR_BYTES>(Position, End, Cursor);
  }
  return OutputBytes == WIDE_CHAR_BYTES
             ? CopyOrdinaryRun<NARROW_CHAR_BYTES, WIDE_CHAR_BYTES>(Position, End, Cursor)
             : CopyOrdinaryRun<NARROW_CHAR_BYTES, NARROW_CHAR_BYTES>(Position, End, Cursor);
}

// Counts the run of ordinary characters from Cursor on into Tally; returns the position of
// the first format character after it.
const UINT8 *CountOrdinaryRun(const UINT8 *Cursor, UINTN FormatBytes, UINT64 &Tally) {
  UINT64 Run = 0;
  while (IsOrdinary(ReadChar(Cursor, FormatBytes))) {
    ++Run;
    Cursor += FormatBytes;
  }
  Tally = SaturatingAdd(Tally, Run);
  return Cursor;
}

// Writes the Count digits of a digit run, read backwards from MostSignificant, at Position,
// which has room for them all; returns the position after the last one.
UINT8 *WriteDigits(UINT8 *Position, UINTN OutputBytes, const CHAR8 *MostSignificant,
                   UINTN Count) {
  const CHAR8 *Digit = MostSignificant;
  UINT8 *const Last = Position + Count * OutputBytes;
  if (OutputBytes == WIDE_CHAR_BYTES) {
    for (; Position != Last; Position += WIDE_CHAR_BYTES, --Digit) {
      StoreChar(Position, WIDE_CHAR_BYTES, static_cast<UINT8>(*Digit));
    }
    return Last;
  }
  for (; Position != Last; ++Position, --Digit) {
    *Position = static_cast<UINT8>(*Digit);
  }
  return Last;
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

// A plain integer directive, with its conversion flags in Flags: no option, width or
// precision, so its precision is the default 1, which a digit run always meets, and only a
// negative signed decimal has a prefix. What ConvertInteger and the output stage would produce
// is therefore the prefix and the digits as they are. They go straight from the scratch area to
// Position when the room left holds them all, else through the sink, which cuts them at the
// end position. Returns the write position after them.
UINT8 *EmitPlainInteger(FormatCall &Call, UINT8 *Position, FormatFlags Flags) {
  UINT16 Prefix = 0;
  const UINT64 Value = PrintedValue(IntegerArgument(TakeArgument(Call), Flags), Flags, Prefix);
  const CHAR8 *MostSignificant = (Flags & HEX_RADIX) != 0
                                     ? StoreHexDigits(Call.Scratch, Value)
                                     : StoreDecimalDigits(Call.Scratch, Value);
  const auto Digits = static_cast<UINTN>(MostSignificant - Call.Scratch);
  OutputSink &Sink = Call.Sink;
  if (Sink.Counting) {
    Sink.Tally = SaturatingAdd(Sink.Tally, Digits + (Prefix != 0 ? 1 : 0));
    return Position;
  }
  const UINTN OutputBytes = Sink.BytesPerChar;
  // Bytes per character are 1 or 2: a shift instead of a division.
  const UINTN Room = static_cast<UINTN>(Sink.End - Position) >> (OutputBytes - 1);
  if (Room > Digits) {
    if (Prefix != 0) {
      StoreChar(Position, OutputBytes, Prefix);
      Position += OutputBytes;
    }
    return WriteDigits(Position, OutputBytes, MostSignificant, Digits);
  }
  Sink.Position = Position;
  if (Prefix != 0) {
    EmitChar(Sink, Prefix);
  }
  EmitDigitRun(Sink, MostSignificant, Digits);
  return Sink.Position;
}

// Emits the line end at Cursor (a line feed or carriage return) and returns the last format
// character it consumes: a line feed, or a pair of either order, is a carriage return and a
// line feed; a lone carriage return is itself. Position is before the end position; the line
// feed is cut when the carriage return takes the last slot.
const UINT8 *EmitLineEnd(OutputSink &Sink, UINT8 *&Position, const UINT8 *Cursor,
                         UINTN FormatBytes, UINT16 Character) {
  const UINT16 Partner = Character == LINE_FEED ? CARRIAGE_RETURN : LINE_FEED;
  const bool Pair = ReadChar(Cursor + FormatBytes, FormatBytes) == Partner;
  const bool WithLineFeed = Pair || Character == LINE_FEED;
  if (Sink.Counting) {
    Sink.Tally = SaturatingAdd(Sink.Tally, WithLineFeed ? 2 : 1);
  } else {
    const UINTN OutputBytes = Sink.BytesPerChar;
    StoreChar(Position, OutputBytes, CARRIAGE_RETURN);
    Position += OutputBytes;
    if (WithLineFeed && Position != Sink.End) {
      StoreChar(Position, OutputBytes, LINE_FEED);
      Position += OutputBytes;
    }
  }
  return Pair ? Cursor + FormatBytes : Cursor;
}

} // namespace

// Entry checks refuse a call with 0 before anything is written; then one walk renders the
// format until the format's end or, when writing, until only the terminator's slot is left.
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

  // The write position stays here between format characters; the general path and the cut
  // digits read and move the sink's copy.
  UINT8 *Position = Call.Sink.Position;
  const UINT8 *End = Call.Sink.End;
  const auto *Cursor = static_cast<const UINT8 *>(Format);
  for (;;) {
    const UINT16 Character = ReadChar(Cursor, FormatBytes);
    // Positions move in whole characters from the start, so a writing sink is full exactly
    // when the write position reaches the end position.
    if (Character == NUL_CHAR || (!CountOnly && Position == End)) {
      break;
    }
    if (IsOrdinary(Character)) {
      Cursor = CountOnly ? CountOrdinaryRun(Cursor, FormatBytes, Call.Sink.Tally)
                         : WriteOrdinaryRun(Position, End, Cursor, FormatBytes, OutputBytes);
      continue;
    }
    if (Character == LINE_FEED || Character == CARRIAGE_RETURN) {
      Cursor = EmitLineEnd(Call.Sink, Position, Cursor, FormatBytes, Character);
    } else {
      // The report's own directives are plain integers; they skip the general parse.
      FormatFlags Conversion = 0;
      const UINT8 *Plain = PlainIntegerDirective(Cursor + FormatBytes, FormatBytes, Conversion);
      if (Plain != nullptr) {
        Position = EmitPlainInteger(Call, Position, Conversion);
        Cursor = Plain;
      } else {
        Call.Sink.Position = Position;
        bool Ended = false;
        Cursor = EmitGeneralDirective(Call, Cursor + FormatBytes, FormatBytes, Flags, Ended);
        Position = Call.Sink.Position;
        if (Ended) {
          break;
        }
      }
    }
    Cursor += FormatBytes;
  }

  if (CountOnly) {
    return Call.Sink.Tally;
  }
  // The terminator goes at the write position, which is at most the end position, so its
  // slot is always there.
  StoreChar(Position, OutputBytes, NUL_CHAR);
  return static_cast<UINT64>(Position - Start) / OutputBytes;
}
