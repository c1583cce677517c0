// Narrow ASCII text built into a caller's fixed buffer. Each piece is written whole or not at
// all: when one does not fit, the buffer keeps what came before, is marked Cut, and takes
// nothing more, so a number is never cut in the middle. The text is always terminated.
#pragma once

#include "firmware/UefiBase.h"

struct TextBuffer {
  char *Data;
  // Characters Data holds, the terminator included.
  UINTN Capacity;
  // Characters written, the terminator left out.
  UINTN Length;
  // A piece did not fit.
  bool Cut;
};

// A buffer over Data[0..Capacity), emptied. Capacity must be at least 1.
TextBuffer MakeTextBuffer(char *Data, UINTN Capacity);

// Appends Text (terminated).
void AppendText(TextBuffer &Buffer, const char *Text);

// Appends Value in decimal.
void AppendDecimal(TextBuffer &Buffer, UINT64 Value);

// Appends Value in lower-case hex, at least Digits digits (zero-padded; 0: as many as needed).
void AppendHex(TextBuffer &Buffer, UINT64 Value, UINTN Digits);

// Appends a size in bytes in words: "256 MB", "32 GB", "16 KB"; exact multiples of 1 KB in
// the largest unit that divides them, anything else in bytes ("1000 bytes"); UINT64_MAX (a
// span of all 2^64 addresses) as "16 EB".
void AppendByteSize(TextBuffer &Buffer, UINT64 Size);
