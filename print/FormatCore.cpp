// The format engine's walk: entry checks, then one pass over the format string, then
// termination and the result. A wide format into a wide buffer, as console print renders every
// line, has a walk built for speed: runs of ordinary characters, line ends and plain decimals
// go straight to the buffer. Every other call (counting, narrow formats) walks through the
// sink, built for size; both send the other directives to the same out-of-line paths.
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

// Finds the extent of the line end at Cursor (a line feed or carriage return) and returns the
// last format character it consumes: a line feed, or a pair of either order, is a carriage
// return and a line feed (WithLineFeed set); a lone carriage return is itself.
const UINT8 *LineEnd(const UINT8 *Cursor, UINTN FormatBytes, UINT16 Character, bool &WithLineFeed) {
  const UINT16 Partner = Character == LINE_FEED ? CARRIAGE_RETURN : LINE_FEED;
  const bool Pair = ReadChar(Cursor + FormatBytes, FormatBytes) == Partner;
  WithLineFeed = Pair || Character == LINE_FEED;
  return Pair ? Cursor + FormatBytes : Cursor;
}

// Room a plain decimal needs to be written without a check per character: a sign and the
// digits of the longest 64-bit value.
constexpr UINTN PLAIN_DECIMAL_MAX_CHARS = MAX_INTEGER_DIGITS + 1;

// Writes, at Position, the plain decimal directive ("%d", "%u", "%ld" or "%lu") whose
// conversion character is at Conversion, when the room before End holds its longest field;
// its text is what SimpleInteger builds for it. Returns the position after the field, or null,
// having taken nothing, for any other directive or less room.
template <UINTN FormatBytes, UINTN OutputBytes>
UINT8 *WritePlainDecimal(FormatCall &Call, UINT8 *Position, const UINT8 *End,
                         const UINT8 *&Conversion) {
  const UINT8 *Cursor = Conversion;
  FormatFlags Flags = 0;
  UINT16 Character = ReadChar(Cursor, FormatBytes);
  if (Character == 'l') {
    Flags = LONG_ARG;
    Cursor += FormatBytes;
    Character = ReadChar(Cursor, FormatBytes);
  }
  if (Character == 'u') {
    Flags |= UNSIGNED_ARG;
  } else if (Character != 'd') {
    return nullptr;
  }
  if (static_cast<UINTN>(End - Position) < PLAIN_DECIMAL_MAX_CHARS * OutputBytes) {
    return nullptr;
  }
  UINT16 Prefix = 0;
  const UINT64 Value = PrintedValue(IntegerArgument(TakeArgument(Call), Flags), Flags, Prefix);
  if (Prefix != 0) {
    StoreChar(Position, OutputBytes, Prefix);
    Position += OutputBytes;
  }
  CHAR8 Digits[MAX_INTEGER_DIGITS + 1];
  const CHAR8 *MostSignificant = StoreDecimalDigits(Digits, Value);
  // The run is read backwards, down to the slot before its least significant digit.
#pragma clang loop unroll(disable) vectorize(disable)
  for (const CHAR8 *Digit = MostSignificant; Digit != Digits; --Digit) {
    StoreChar(Position, OutputBytes, static_cast<UINT8>(*Digit));
    Position += OutputBytes;
  }
  Conversion = Cursor;
  return Position;
}

// The text conversions that take no option: "a", "s", "S", "c", "g", "t" and "r".
constexpr bool IsTextConversion(UINT16 Character) {
  return Character == 'a' || Character == 's' || Character == 'S' || Character == 'c' ||
         Character == 'g' || Character == 't' || Character == 'r';
}

// Writes at Position, which is before the end position of Call's writing sink, the directive
// whose "%" is at Cursor when it is not a plain decimal with room to spare, and moves Cursor
// to its last format character: a text conversion without options or a simple integer goes
// straight to the buffer, any other directive through the general path and the sink. Ended is
// set when the format ends inside the directive. Returns the position after the field. Built
// for size: the report's directives never come here.
[[clang::minsize]] [[gnu::noinline]] UINT8 *WriteDirective(FormatCall &Call, UINT8 *Position,
                                                           const UINT8 *&Cursor, UINTN FormatBytes,
                                                           FormatFlags Flags, bool &Ended) {
  const UINT8 *Conversion = Cursor + FormatBytes;
  const UINT16 Next = ReadChar(Conversion, FormatBytes);
  if (IsTextConversion(Next)) {
    Cursor = Conversion;
    return WritePlainText(Call, Position, Flags, Next);
  }
  const CHAR8 *Text = nullptr;
  UINTN Count = 0;
  const UINT8 *Last = SimpleInteger(Call, Conversion, FormatBytes, Text, Count);
  if (Last != nullptr) {
    Cursor = Last;
    // The field is copied as far as the room before the end position goes.
    const UINTN OutputBytes = Call.Sink.BytesPerChar;
    for (UINTN Index = 0; Index < Count && Position != Call.Sink.End; ++Index) {
      StoreChar(Position, OutputBytes, static_cast<UINT8>(Text[Index]));
      Position += OutputBytes;
    }
    return Position;
  }
  Call.Sink.Position = Position;
  Cursor = EmitGeneralDirective(Call, Conversion, FormatBytes, Flags, Ended);
  return Call.Sink.Position;
}

// The walk of a wide format into a wide buffer: runs of ordinary characters, line ends and
// plain decimals are written here, up to the end position, the other directives by
// WriteDirective. Returns the write position where the walk ended: at the format's end, inside
// a directive cut off by it, or at the end position.
UINT8 *WriteWideWalk(FormatCall &Call, UINT8 *Position, const UINT8 *Cursor, FormatFlags Flags) {
  constexpr UINTN FormatBytes = WIDE_CHAR_BYTES;
  constexpr UINTN OutputBytes = WIDE_CHAR_BYTES;
  const UINT8 *const End = Call.Sink.End;
  for (;;) {
    const UINT16 Character = ReadChar(Cursor, FormatBytes);
    // Positions move in whole characters from the start, so the buffer is full exactly when
    // the write position reaches the end position.
    if (Character == NUL_CHAR || Position == End) {
      return Position;
    }
    if (IsOrdinary(Character)) {
      Cursor = CopyOrdinaryRun<FormatBytes, OutputBytes>(Position, End, Cursor);
      continue;
    }
    if (Character == LINE_FEED || Character == CARRIAGE_RETURN) {
      bool WithLineFeed = false;
      Cursor = LineEnd(Cursor, FormatBytes, Character, WithLineFeed);
      StoreChar(Position, OutputBytes, CARRIAGE_RETURN);
      Position += OutputBytes;
      // The line feed is cut when the carriage return took the last slot.
      if (WithLineFeed && Position != End) {
        StoreChar(Position, OutputBytes, LINE_FEED);
        Position += OutputBytes;
      }
    } else {
      // The report's own directives: plain decimals, with room to spare.
      const UINT8 *Conversion = Cursor + FormatBytes;
      UINT8 *After = WritePlainDecimal<FormatBytes, OutputBytes>(Call, Position, End, Conversion);
      if (After != nullptr) {
        Position = After;
        Cursor = Conversion + FormatBytes;
        continue;
      }
      bool Ended = false;
      Position = WriteDirective(Call, Position, Cursor, FormatBytes, Flags, Ended);
      if (Ended) {
        return Position;
      }
    }
    Cursor += FormatBytes;
  }
}

// The walk of a COUNT_ONLY call and of the width pairs no caller of the system uses (narrow
// formats, mixed widths): the same steps as WriteWideWalk, through the sink, which writes up to
// the end position or only counts. A narrow run into a narrow buffer is still copied whole, and
// when writing, every directive goes to WriteDirective. Built for size.
[[clang::minsize]] [[gnu::noinline]] void SinkWalk(FormatCall &Call, const UINT8 *Cursor,
                                                   UINTN FormatBytes, FormatFlags Flags) {
  OutputSink &Sink = Call.Sink;
  for (;;) {
    const UINT16 Character = ReadChar(Cursor, FormatBytes);
    if (Character == NUL_CHAR || SinkFull(Sink)) {
      return;
    }
    if (IsOrdinary(Character)) {
      if (Sink.Counting) {
        Cursor = CountOrdinaryRun(Cursor, FormatBytes, Sink.Tally);
        continue;
      }
      if (FormatBytes == NARROW_CHAR_BYTES && Sink.BytesPerChar == NARROW_CHAR_BYTES) {
        Cursor =
            CopyOrdinaryRun<NARROW_CHAR_BYTES, NARROW_CHAR_BYTES>(Sink.Position, Sink.End, Cursor);
        continue;
      }
      EmitChar(Sink, Character);
    } else if (Character == LINE_FEED || Character == CARRIAGE_RETURN) {
      bool WithLineFeed = false;
      Cursor = LineEnd(Cursor, FormatBytes, Character, WithLineFeed);
      if (EmitChar(Sink, CARRIAGE_RETURN) && WithLineFeed) {
        EmitChar(Sink, LINE_FEED);
      }
    } else {
      bool Ended = false;
      if (Sink.Counting) {
        Cursor = EmitGeneralDirective(Call, Cursor + FormatBytes, FormatBytes, Flags, Ended);
      } else {
        Sink.Position = WriteDirective(Call, Sink.Position, Cursor, FormatBytes, Flags, Ended);
      }
      if (Ended) {
        return;
      }
    }
    Cursor += FormatBytes;
  }
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

  const auto *Cursor = static_cast<const UINT8 *>(Format);
  const bool WideWalk = !CountOnly && WideFormat && OutputBytes == WIDE_CHAR_BYTES;
  if (!WideWalk) {
    SinkWalk(Call, Cursor, FormatBytes, Flags);
    if (CountOnly) {
      return Call.Sink.Tally;
    }
  }
  UINT8 *const Position = WideWalk ? WriteWideWalk(Call, Start, Cursor, Flags) : Call.Sink.Position;
  // The terminator goes at the write position, which is at most the end position, so its
  // slot is always there.
  StoreChar(Position, OutputBytes, NUL_CHAR);
  return static_cast<UINT64>(Position - Start) / OutputBytes;
}
