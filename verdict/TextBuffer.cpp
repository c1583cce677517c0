// Narrow text into a fixed buffer, each piece whole or not at all.
#include "verdict/TextBuffer.h"

namespace {

// Digits of the longest number written: a 64-bit value in decimal.
constexpr UINTN MAX_NUMBER_DIGITS = 20;
constexpr UINT64 DECIMAL_BASE = 10;
constexpr UINT64 HEX_BASE = 16;
constexpr char DIGITS[] = "0123456789abcdef";
// Units of a byte size, each 1024 times the one before.
constexpr const char *BYTE_UNITS[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
constexpr UINTN BYTE_UNIT_COUNT = sizeof(BYTE_UNITS) / sizeof(BYTE_UNITS[0]);
constexpr UINT64 UNIT_STEP = 1024;
// 2^64 bytes, which a UINT64 cannot hold, in its unit.
constexpr UINT64 ALL_ADDRESSES_EB = 16;

// Appends Count characters of Piece, or marks the buffer cut when they do not all fit.
void AppendPiece(TextBuffer &Buffer, const char *Piece, UINTN Count) {
  if (Buffer.Cut || Buffer.Capacity - 1 - Buffer.Length < Count) {
    Buffer.Cut = true;
    return;
  }
  for (UINTN Index = 0; Index < Count; ++Index) {
    Buffer.Data[Buffer.Length++] = Piece[Index];
  }
  Buffer.Data[Buffer.Length] = '\0';
}

// Appends Value in Base with at least Digits digits.
void AppendNumber(TextBuffer &Buffer, UINT64 Value, UINT64 Base, UINTN Digits) {
  char Reversed[MAX_NUMBER_DIGITS + 1];
  UINTN Count = 0;
  do {
    Reversed[Count++] = DIGITS[Value % Base];
    Value /= Base;
  } while (Value != 0 && Count < MAX_NUMBER_DIGITS);
  while (Count < Digits && Count < MAX_NUMBER_DIGITS) {
    Reversed[Count++] = '0';
  }
  char Text[MAX_NUMBER_DIGITS + 1];
  for (UINTN Index = 0; Index < Count; ++Index) {
    Text[Index] = Reversed[Count - 1 - Index];
  }
  AppendPiece(Buffer, Text, Count);
}

} // namespace

TextBuffer MakeTextBuffer(char *Data, UINTN Capacity) {
  Data[0] = '\0';
  return {Data, Capacity, 0, false};
}

void AppendText(TextBuffer &Buffer, const char *Text) {
  UINTN Count = 0;
  while (Text[Count] != '\0') {
    ++Count;
  }
  AppendPiece(Buffer, Text, Count);
}

void AppendDecimal(TextBuffer &Buffer, UINT64 Value) {
  AppendNumber(Buffer, Value, DECIMAL_BASE, 1);
}

void AppendHex(TextBuffer &Buffer, UINT64 Value, UINTN Digits) {
  AppendNumber(Buffer, Value, HEX_BASE, Digits);
}

void AppendByteSize(TextBuffer &Buffer, UINT64 Size) {
  if (Size == UINT64_MAX) {
    AppendDecimal(Buffer, ALL_ADDRESSES_EB);
    AppendText(Buffer, " EB");
    return;
  }
  if (Size == 0 || Size % UNIT_STEP != 0) {
    AppendDecimal(Buffer, Size);
    AppendText(Buffer, " bytes");
    return;
  }
  UINT64 Count = Size / UNIT_STEP;
  UINTN Unit = 0;
  while (Unit + 1 < BYTE_UNIT_COUNT && Count % UNIT_STEP == 0) {
    Count /= UNIT_STEP;
    ++Unit;
  }
  AppendDecimal(Buffer, Count);
  AppendText(Buffer, " ");
  AppendText(Buffer, BYTE_UNITS[Unit]);
}
