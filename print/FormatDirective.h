// What the format engine's files share: the state of one directive on its way to the output
// stage, the sink that writes or counts the produced characters, and the record of one
// FormatCore call. The walk (FormatCore.cpp) parses a directive, a conversion
// (IntegerConversion.cpp, ExtendedConversions.cpp) sets its argument string, and the common
// output stage (FormatOutput.cpp) pads, copies and writes it.
#pragma once

#include "firmware/UefiBase.h"
#include "print/ArgumentList.h"
#include "print/FormatEngine.h"
#include "print/FormatFlags.h"

// Masks of a narrow and of a wide character value.
inline constexpr UINT16 NARROW_CHAR_MASK = 0xFF;
inline constexpr UINT16 WIDE_CHAR_MASK = 0xFFFF;
// Bytes of a narrow and of a wide character.
inline constexpr UINTN NARROW_CHAR_BYTES = 1;
inline constexpr UINTN WIDE_CHAR_BYTES = 2;
// Shift of a wide character's second (high) byte.
inline constexpr unsigned HIGH_BYTE_SHIFT = 8;
// Largest tally or count; a sum that would pass it stays there.
inline constexpr UINT64 COUNT_SATURATED = ~static_cast<UINT64>(0);
// Precision of a directive that gives none: at least one digit for integers.
inline constexpr UINT64 DEFAULT_PRECISION = 1;

// Where produced characters go: a buffer written up to its end position, or a tally only.
struct OutputSink {
  UINT8 *Position;    // next character slot of the buffer; null while counting
  const UINT8 *End;   // slot reserved for the terminator; no other character goes there
  UINTN BytesPerChar; // output character width: 1 narrow, 2 wide
  bool Counting;      // COUNT_ONLY: nothing is written, Tally counts every character
  UINT64 Tally;       // characters produced so far while counting
};

// One format character or directive as the output stage receives it.
struct Directive {
  FormatFlags Flags; // caller's bits plus the directive's options
  UINT64 Width;      // minimum field length; used only with HAS_WIDTH
  UINT64 Precision;  // integers: minimum digits; strings: minimum and maximum characters
  UINT16 Prefix;     // sign of an integer field: '-', '+', ' ', or 0 for none
  bool Numeric;      // integer field: zero fill goes after the prefix
  UINT64 Count;      // characters of the argument string to print (integers: set by them)
  UINTN GroupPhase;  // digits printed since the last comma position
  const UINT8 *Text; // argument string; with REVERSED_DIGITS its most significant digit
};

// The state of one FormatCore call besides its walk position.
struct FormatCall {
  OutputSink Sink;
  const ArgumentSlot *NextArgument;    // the engine's own copy of the argument pointer
  CHAR8 Scratch[FORMAT_SCRATCH_CHARS]; // digit runs and sub-formatted texts of this call
  UINT8 CharText[2 * WIDE_CHAR_BYTES]; // a one-character wide string and its terminator
};

// Minimum and maximum of two unsigned 64-bit values.
constexpr UINT64 MinU64(UINT64 A, UINT64 B) {
  return A < B ? A : B;
}
constexpr UINT64 MaxU64(UINT64 A, UINT64 B) {
  return A > B ? A : B;
}

// A + B, or COUNT_SATURATED when the sum does not fit in 64 bits.
constexpr UINT64 SaturatingAdd(UINT64 A, UINT64 B) {
  return A > COUNT_SATURATED - B ? COUNT_SATURATED : A + B;
}

// Reads the character at Text, CharBytes (1 or 2) bytes low byte first, masked to its width.
// On the little-endian targets the system is built for, a wide character is one 16-bit load
// from a possibly unaligned address.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
inline UINT16 ReadChar(const UINT8 *Text, UINTN CharBytes) {
  if (CharBytes == NARROW_CHAR_BYTES) {
    return static_cast<UINT16>(Text[0] & NARROW_CHAR_MASK);
  }
  UINT16 Character = 0;
  __builtin_memcpy(&Character, Text, sizeof(Character));
  return Character;
}

// Views a narrow string as the bytes the output stage reads.
inline const UINT8 *AsBytes(const CHAR8 *Text) {
  return reinterpret_cast<const UINT8 *>(Text);
}

// Takes the next 8-byte argument slot of Call; a null argument list reads as zeros. Each
// argument takes one slot, whatever its type; the caller's list pointer is not moved.
inline ArgumentSlot TakeArgument(FormatCall &Call) {
  if (Call.NextArgument == nullptr) {
    return 0;
  }
  return *Call.NextArgument++;
}

// Character slots left before the end position of a writing sink; 0 while counting.
inline UINT64 SinkRoom(const OutputSink &Sink) {
  if (Sink.Counting || Sink.Position == nullptr || Sink.Position >= Sink.End) {
    return 0;
  }
  // Bytes per character are 1 or 2: a shift instead of a division.
  const auto Bytes = static_cast<UINT64>(Sink.End - Sink.Position);
  return Sink.BytesPerChar == WIDE_CHAR_BYTES ? Bytes >> 1 : Bytes;
}

// True when Sink writes a buffer and no character slot is left before its end position; a
// counting sink has no end.
inline bool SinkFull(const OutputSink &Sink) {
  // SinkRoom(Sink) == 0, without its division.
  return !Sink.Counting && (Sink.Position == nullptr || Sink.Position >= Sink.End ||
                            static_cast<UINTN>(Sink.End - Sink.Position) < Sink.BytesPerChar);
}

// Produces Count copies of Character: written up to the end position, or added to the tally.
void EmitRepeated(OutputSink &Sink, UINT64 Count, UINT16 Character);

// Stores Character at Position in OutputBytes (1 or 2) bytes, low byte first; a narrow slot
// takes the low byte. Every character the engine writes goes through here.
inline void StoreChar(UINT8 *Position, UINTN OutputBytes, UINT16 Character) {
  Position[0] = static_cast<UINT8>(Character & NARROW_CHAR_MASK);
  if (OutputBytes == WIDE_CHAR_BYTES) {
    Position[1] = static_cast<UINT8>(Character >> HIGH_BYTE_SHIFT);
  }
}

// Produces one Character, as EmitRepeated with a count of 1 does: written when a whole
// character fits before the end position, or added to the tally. Returns false, having
// produced nothing, when the sink is full. Inline, as most characters of a rendering pass
// through it.
inline bool EmitChar(OutputSink &Sink, UINT16 Character) {
  if (Sink.Counting) {
    Sink.Tally = SaturatingAdd(Sink.Tally, 1);
    return true;
  }
  // The sink's members are read before the byte stores, which could alias them.
  UINT8 *Position = Sink.Position;
  const UINT8 *End = Sink.End;
  const UINTN CharBytes = Sink.BytesPerChar;
  if (Position == nullptr || Position >= End || static_cast<UINTN>(End - Position) < CharBytes) {
    return false;
  }
  StoreChar(Position, CharBytes, Character);
  Sink.Position = Position + CharBytes;
  return true;
}

// The common output stage: measures the argument string of Field, then emits the width
// padding, the prefix and precision fill, the characters (with commas for grouped decimals)
// and the trailing padding of a left-aligned field.
void EmitField(OutputSink &Sink, Directive &Field);

// Integer conversions d, u, x, X and p, with their conversion flags already set: takes the
// argument slot, writes its digit run into Call's scratch area and sets Field for the output
// stage.
void ConvertInteger(FormatCall &Call, Directive &Field);

// Recognises the directive whose "%" is just before Cursor when it is a simple integer: an
// optional "0", a width below the scratch area's size, any "l" or "L", then "d", "u", "x", "X"
// or "p". Takes its argument slot, builds the finished field in Call's scratch area and sets
// Text and Count to it; returns the directive's last format character. Returns null, having
// taken nothing, for any other directive.
const UINT8 *SimpleInteger(FormatCall &Call, const UINT8 *Cursor, UINTN FormatBytes,
                           const CHAR8 *&Text, UINTN &Count);

// Parses the directive whose "%" is just before Cursor, starting from the caller's flags in
// CallerFlags, and emits its field through the common output stage. Returns the last format
// character the directive consumes; Ended is set when the format ends inside the directive.
const UINT8 *EmitGeneralDirective(FormatCall &Call, const UINT8 *Cursor, UINTN FormatBytes,
                                  FormatFlags CallerFlags, bool &Ended);

// Conversions a, s, S, c, g, t and r. Returns false, leaving Field untouched, for any other
// Conversion character.
bool ConvertExtended(FormatCall &Call, Directive &Field, UINT16 Conversion);

// Writes at Position, which is before the end position of Call's writing sink, the field of a
// text conversion ("a", "s", "S", "c", "g", "t" or "r") without option, width or precision,
// as the output stage would; takes its argument slot. CallerFlags hold the caller's flags.
// Returns the position after the field.
UINT8 *WritePlainText(FormatCall &Call, UINT8 *Position, FormatFlags CallerFlags,
                      UINT16 Conversion);
