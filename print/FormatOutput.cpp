// The format engine's common output stage, which every format character ends in, and the
// primitives beneath it: bounded character fill, bounded string lengths and the output sink
// that either writes a buffer up to its end position or only counts.
#include "print/FormatDirective.h"

namespace {

// Blank of width padding and of string precision fill.
constexpr UINT16 PAD_CHAR = ' ';
// Fill of an integer field up to its precision.
constexpr UINT16 ZERO_CHAR = '0';
// Separator of grouped decimal digits, and the digits per group.
constexpr UINT16 COMMA_CHAR = ',';
constexpr UINTN COMMA_GROUP_DIGITS = 3;

// Characters of Text before its first NUL (under the width's mask), at most Limit.
UINT64 ArgumentLength(const UINT8 *Text, UINTN CharBytes, UINT64 Limit) {
  UINT64 Length = 0;
  while (Length < Limit && ReadChar(Text + Length * CharBytes, CharBytes) != 0) {
    ++Length;
  }
  return Length;
}

// How far the output stage measures a non-numeric argument string. The precision caps it when
// one is given. A writing sink needs no more than the field's padded size plus the room left:
// a longer string has no padding before it and fills the rest of the buffer either way, so
// measuring further would only cost time, not change a character.
UINT64 MeasureLimit(const OutputSink &Sink, const Directive &Field) {
  UINT64 Limit = (Field.Flags & HAS_PRECISION) != 0 ? Field.Precision : COUNT_SATURATED;
  if (!Sink.Counting) {
    const UINT64 Width = (Field.Flags & HAS_WIDTH) != 0 ? Field.Width : 0;
    Limit = MinU64(Limit, SaturatingAdd(MaxU64(Width, Field.Precision), SinkRoom(Sink)));
  }
  return Limit;
}

// Writes Count characters of Text, CharBytes (1 or 2) each, at Position, which has room for
// them all; Text is read forwards, or backwards for a digit run. Returns the position after
// the last one.
UINT8 *WriteText(UINT8 *Position, UINTN OutputBytes, const UINT8 *Text, UINTN CharBytes,
                 bool Reversed, UINT64 Count) {
  const INTN Step = Reversed ? -static_cast<INTN>(CharBytes) : static_cast<INTN>(CharBytes);
  // Texts are short (digit runs, names): a plain loop beats an unrolled one's set-up.
#pragma clang loop unroll(disable) vectorize(disable)
  for (UINT64 Index = 0; Index < Count; ++Index) {
    const UINT16 Character = ReadChar(Text, CharBytes);
    StoreChar(Position, OutputBytes, Character);
    Position += OutputBytes;
    Text += Step;
  }
  return Position;
}

// Writes Count copies of Character at Position, which has room for them all; returns the
// position after the last one.
UINT8 *WriteRepeated(UINT8 *Position, UINTN OutputBytes, UINT64 Count, UINT16 Character) {
  // Fills are short (a field's padding): a plain loop beats an unrolled one's set-up.
#pragma clang loop unroll(disable) vectorize(disable)
  for (UINT64 Index = 0; Index < Count; ++Index) {
    StoreChar(Position, OutputBytes, Character);
    Position += OutputBytes;
  }
  return Position;
}

// Produces Count characters of Text, none of them NUL, read forwards or backwards: written up
// to the end position, or added to the tally.
void EmitText(OutputSink &Sink, const UINT8 *Text, UINTN CharBytes, bool Reversed, UINT64 Count) {
  if (Sink.Counting) {
    Sink.Tally = SaturatingAdd(Sink.Tally, Count);
    return;
  }
  const UINT64 Written = MinU64(Count, SinkRoom(Sink));
  Sink.Position = WriteText(Sink.Position, Sink.BytesPerChar, Text, CharBytes, Reversed, Written);
}

// Emits the characters of Field's argument string, reading forwards, or backwards for a digit
// run, and inserts a comma after every third digit of a grouped decimal field. The index
// counts the prefix and the commas, so the field's count bounds the whole copy.
void CopyArgument(OutputSink &Sink, Directive &Field, UINTN CharBytes) {
  const bool Reversed = (Field.Flags & REVERSED_DIGITS) != 0;
  const bool Grouping =
      Field.Numeric && (Field.Flags & GROUP_COMMAS) != 0 && (Field.Flags & HEX_RADIX) == 0;
  const UINT8 *Text = Field.Text;
  UINT64 Index = Field.Prefix != 0 ? 1 : 0;
  if (!Grouping) {
    // Each character left in the count is one to print: a measured string's count stops
    // before its NUL, and a digit run's is its digits and the prefix.
    if (Index < Field.Count) {
      EmitText(Sink, Text, CharBytes, Reversed, Field.Count - Index);
    }
    return;
  }
  // The copy ends at the digit run's NUL or when the sink is full.
  while (Index < Field.Count) {
    const UINT16 Character = ReadChar(Text, CharBytes);
    if (Character == 0 || !EmitChar(Sink, Character)) {
      break;
    }
    // A digit run ends at the NUL before its least significant digit, so the step back
    // never leaves the scratch area.
    Text = Reversed ? Text - CharBytes : Text + CharBytes;
    ++Index;
    if (++Field.GroupPhase == COMMA_GROUP_DIGITS) {
      Field.GroupPhase = 0;
      ++Index;
      if (Index < Field.Count) {
        EmitChar(Sink, COMMA_CHAR);
      }
    }
  }
}

} // namespace

// Characters before the terminator of a wide string, at most FORMAT_LENGTH_OVERFLOW read.
UINT64 WideStrLenBounded(const CHAR16 *String) {
  if (String == nullptr) {
    return 0;
  }
  UINT64 Length = 0;
  while (Length < FORMAT_LENGTH_OVERFLOW && String[Length] != 0) {
    ++Length;
  }
  return Length;
}

// Writes Count copies of Character, 1 or 2 bytes each, never a byte at or past End.
[[clang::minsize]] UINT8 *FillChars(UINT8 *Position, const UINT8 *End, INT64 Count,
                                    UINT16 Character, UINTN BytesPerChar) {
  const UINTN Step = BytesPerChar == NARROW_CHAR_BYTES ? NARROW_CHAR_BYTES : WIDE_CHAR_BYTES;
  if (Position == nullptr || Position >= End || Count <= 0) {
    return Position;
  }
  // Whole character slots before End.
  const UINT64 Room = static_cast<UINT64>(End - Position) / Step;
  return WriteRepeated(Position, Step, MinU64(static_cast<UINT64>(Count), Room), Character);
}

// Counted characters are added to the tally at once, whatever their number; written ones are
// cut to the room left.
[[clang::minsize]] void EmitRepeated(OutputSink &Sink, UINT64 Count, UINT16 Character) {
  if (Sink.Counting) {
    Sink.Tally = SaturatingAdd(Sink.Tally, Count);
    return;
  }
  // Most fields have no padding or fill at all.
  if (Count == 0) {
    return;
  }
  const UINT64 Written = MinU64(Count, SinkRoom(Sink));
  Sink.Position = WriteRepeated(Sink.Position, Sink.BytesPerChar, Written, Character);
}

// Takes Field with its flags, width, precision, prefix and argument string; leaves Count and
// Precision as the field used them.
[[clang::minsize]] void EmitField(OutputSink &Sink, Directive &Field) {
  const UINTN CharBytes = (Field.Flags & WIDE_ARGUMENT) != 0 ? WIDE_CHAR_BYTES : NARROW_CHAR_BYTES;
  if ((Field.Flags & REVERSED_DIGITS) == 0) {
    Field.Count = ArgumentLength(Field.Text, CharBytes, MeasureLimit(Sink, Field));
  }
  Field.Precision = MaxU64(Field.Precision, Field.Count);

  const bool LeftAlign = (Field.Flags & LEFT_ALIGN) != 0;
  const bool Padded = (Field.Flags & HAS_WIDTH) != 0 && Field.Width > Field.Precision;
  const UINT64 Padding = Padded ? Field.Width - Field.Precision : 0;
  if (!LeftAlign) {
    EmitRepeated(Sink, Padding, PAD_CHAR);
  }
  // A string shorter than its precision is filled on the left with blanks, whatever the
  // alignment; an integer gets its sign, then zeros up to the precision.
  if (Field.Numeric) {
    if (Field.Prefix != 0) {
      EmitRepeated(Sink, 1, Field.Prefix);
    }
    EmitRepeated(Sink, Field.Precision - Field.Count, ZERO_CHAR);
  } else {
    EmitRepeated(Sink, Field.Precision - Field.Count, PAD_CHAR);
  }
  CopyArgument(Sink, Field, CharBytes);
  if (LeftAlign) {
    EmitRepeated(Sink, Padding, PAD_CHAR);
  }
}
