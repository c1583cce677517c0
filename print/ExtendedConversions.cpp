// The format engine's text conversions: "a" (narrow string), "s" and "S" (wide string), "c"
// (one UCS-2 character), "g" (EFI_GUID), "t" (EFI_TIME) and "r" (EFI_STATUS). Each takes one
// argument slot and hands a text to the output stage; GUIDs, times and unnamed statuses are
// rendered first into the calling FormatCore run's scratch area, digit by digit, as the
// directives "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", "%02d/%02d/%04d  %02d:%02d"
// and "%08X" print them for the values these records hold.
#include "firmware/UefiStatus.h"
#include "print/DigitText.h"
#include "print/FormatDirective.h"
#include "print/StatusTexts.h"

// Rarely used: every function of this file is built for size.
#pragma clang attribute push(__attribute__((minsize)), apply_to = function)

namespace {

// Texts of null pointers; all narrow.
constexpr CHAR8 NULL_STRING_TEXT[] = "<null string>";
constexpr CHAR8 NULL_GUID_TEXT[] = "<null guid>";
constexpr CHAR8 NULL_TIME_TEXT[] = "<null time>";

// The GUID's bytes in the order its text shows them: Data1, Data2 and Data3 are little-endian
// numbers, shown most significant byte first; the Data4 bytes are shown as stored.
constexpr UINT8 GUID_TEXT_BYTE_ORDER[sizeof(EFI_GUID)] = {3, 2, 1,  0,  5,  4,  7,  6,
                                                          8, 9, 10, 11, 12, 13, 14, 15};
static_assert(offsetof(EFI_GUID, Data2) == 4 && offsetof(EFI_GUID, Data3) == 6 &&
              offsetof(EFI_GUID, Data4) == 8);
// Bit n set: a "-" follows the n-th byte shown, closing Data1, Data2, Data3 and Data4's first
// two bytes (the 8-4-4-4-12 grouping).
constexpr UINT32 GUID_SEPARATOR_AFTER = (1U << 3) | (1U << 5) | (1U << 7) | (1U << 9);
constexpr UINTN GUID_BYTE_DIGITS = 2;
constexpr CHAR8 GUID_SEPARATOR = '-';

// One field of the time text: where it is in the record, its size, its least digits (larger
// values print in full) and what follows it.
struct TimeTextField {
  UINT8 Offset;
  UINT8 Bytes;
  UINT8 MinDigits;
  CHAR8 After[3];
};
// Month/day/year, two blanks, hour:minute.
constexpr TimeTextField TIME_TEXT_FIELDS[] = {
    {offsetof(EFI_TIME, Month), 1, 2, "/"}, {offsetof(EFI_TIME, Day), 1, 2, "/"},
    {offsetof(EFI_TIME, Year), 2, 4, "  "}, {offsetof(EFI_TIME, Hour), 1, 2, ":"},
    {offsetof(EFI_TIME, Minute), 1, 2, ""},
};

// A status outside both text tables: the low 32 bits of its slot as eight digits.
constexpr UINTN STATUS_NUMBER_DIGITS = 8;

// The low 16 bits of a slot: the character of "c".
constexpr ArgumentSlot CHAR_SLOT_MASK = 0xFFFF;

// The blank of a text conversion without options whose text is empty.
constexpr UINT16 PAD_TEXT_CHAR = ' ';

// The bytes a pointer slot points to; null for a null pointer.
const UINT8 *SlotBytes(ArgumentSlot Slot) {
  return reinterpret_cast<const UINT8 *>(static_cast<UINTN>(Slot));
}

// Sets Field to a narrow text.
void UseNarrowText(Directive &Field, const CHAR8 *Text) {
  Field.Flags &= ~WIDE_ARGUMENT;
  Field.Text = AsBytes(Text);
}

// "a", "s", "S": a narrow (Wide false) or wide string, or the null placeholder. Without a
// precision the stage prints the whole string with no blanks of its own.
void ConvertString(FormatCall &Call, Directive &Field, bool Wide) {
  const UINT8 *String = SlotBytes(TakeArgument(Call));
  if (String == nullptr) {
    UseNarrowText(Field, NULL_STRING_TEXT);
  } else {
    Field.Flags = Wide ? (Field.Flags | WIDE_ARGUMENT) : (Field.Flags & ~WIDE_ARGUMENT);
    Field.Text = String;
  }
  if ((Field.Flags & HAS_PRECISION) == 0) {
    Field.Precision = 0;
  }
}

// "c": the low 16 bits of the slot as a one-character wide string; the character 0 makes an
// empty string.
void ConvertCharacter(FormatCall &Call, Directive &Field) {
  const auto Character = static_cast<UINT16>(TakeArgument(Call) & CHAR_SLOT_MASK);
  Call.CharText[0] = static_cast<UINT8>(Character & NARROW_CHAR_MASK);
  Call.CharText[1] = static_cast<UINT8>(Character >> HIGH_BYTE_SHIFT);
  Call.CharText[2] = 0;
  Call.CharText[3] = 0;
  Field.Flags |= WIDE_ARGUMENT;
  Field.Text = Call.CharText;
}

// Reads a little-endian field of Size bytes (at most 4), so records need not be aligned.
UINT32 ReadLittleEndian(const UINT8 *Bytes, UINTN Size) {
  UINT32 Value = 0;
  for (UINTN Index = Size; Index > 0; --Index) {
    Value = (Value << HIGH_BYTE_SHIFT) | Bytes[Index - 1];
  }
  return Value;
}

// Writes the Count lowest hexadecimal digits of Value at Text, most significant first, and
// returns the position after them.
CHAR8 *PutHexDigits(CHAR8 *Text, UINT64 Value, UINTN Count) {
  for (UINTN Index = Count; Index > 0; --Index) {
    Text[Index - 1] = DIGIT_CHARS[Value & HEX_DIGIT_MASK];
    Value >>= HEX_DIGIT_BITS;
  }
  return Text + Count;
}

// Writes Value in decimal at Text with at least MinDigits digits, zeros first, and returns
// the position after them: "%02d" and "%04d" of a value that is never negative.
CHAR8 *PutDecimal(CHAR8 *Text, UINT32 Value, UINTN MinDigits) {
  CHAR8 Run[MAX_INTEGER_DIGITS + 1];
  const CHAR8 *Digit = StoreDecimalDigits(Run, Value);
  for (auto Digits = static_cast<UINTN>(Digit - Run); Digits < MinDigits; ++Digits) {
    *Text++ = '0';
  }
  for (; Digit != Run; --Digit) {
    *Text++ = *Digit;
  }
  return Text;
}

// "g": the GUID's 36-character text, or the null placeholder: its bytes in text order, two
// hexadecimal digits each, in groups joined by "-".
void ConvertGuid(FormatCall &Call, Directive &Field) {
  const UINT8 *Guid = SlotBytes(TakeArgument(Call));
  if (Guid == nullptr) {
    UseNarrowText(Field, NULL_GUID_TEXT);
    return;
  }
  CHAR8 *Text = Call.Scratch;
  for (UINTN Index = 0; Index < sizeof(EFI_GUID); ++Index) {
    Text = PutHexDigits(Text, Guid[GUID_TEXT_BYTE_ORDER[Index]], GUID_BYTE_DIGITS);
    if (((GUID_SEPARATOR_AFTER >> Index) & 1) != 0) {
      *Text++ = GUID_SEPARATOR;
    }
  }
  *Text = '\0';
  UseNarrowText(Field, Call.Scratch);
}

// "t": month, day, year, hour and minute of the time record, or the null placeholder.
// Seconds, nanoseconds, time zone and daylight flags are not shown.
void ConvertTime(FormatCall &Call, Directive &Field) {
  const UINT8 *Time = SlotBytes(TakeArgument(Call));
  if (Time == nullptr) {
    UseNarrowText(Field, NULL_TIME_TEXT);
    return;
  }
  CHAR8 *Text = Call.Scratch;
  for (const TimeTextField &Part : TIME_TEXT_FIELDS) {
    Text = PutDecimal(Text, ReadLittleEndian(Time + Part.Offset, Part.Bytes), Part.MinDigits);
    for (const CHAR8 *After = Part.After; *After != '\0'; ++After) {
      *Text++ = *After;
    }
  }
  *Text = '\0';
  UseNarrowText(Field, Call.Scratch);
}

// "r": the status's row in the text tables, else its low 32 bits as eight hexadecimal digits.
void ConvertStatus(FormatCall &Call, Directive &Field) {
  const EFI_STATUS Status = TakeArgument(Call);
  const CHAR8 *Text = StatusText(Status);
  if (Text == nullptr) {
    *PutHexDigits(Call.Scratch, Status & LOW_32_BITS, STATUS_NUMBER_DIGITS) = '\0';
    Text = Call.Scratch;
  }
  UseNarrowText(Field, Text);
}

} // namespace

// Flags, width and precision of Field are parsed; "c", "g", "t" and "r" keep the directive's
// precision, the string conversions drop it unless one was given.
bool ConvertExtended(FormatCall &Call, Directive &Field, UINT16 Conversion) {
  switch (Conversion) {
  case 'a':
    ConvertString(Call, Field, false);
    return true;
  case 's':
  case 'S':
    ConvertString(Call, Field, true);
    return true;
  case 'c':
    ConvertCharacter(Call, Field);
    return true;
  case 'g':
    ConvertGuid(Call, Field);
    return true;
  case 't':
    ConvertTime(Call, Field);
    return true;
  case 'r':
    ConvertStatus(Call, Field);
    return true;
  default:
    return false;
  }
}

// The field is what the output stage prints for such a directive: its precision is 0 for the
// strings, which print whole, and 1 for the others, so an empty text becomes one blank. The
// text is copied up to its NUL or the end position.
UINT8 *WritePlainText(FormatCall &Call, UINT8 *Position, FormatFlags CallerFlags,
                      UINT16 Conversion) {
  Directive Field{};
  Field.Flags = CallerFlags & CALLER_FLAGS;
  Field.Precision = DEFAULT_PRECISION;
  if (!ConvertExtended(Call, Field, Conversion)) {
    return Position;
  }
  const UINTN CharBytes = (Field.Flags & WIDE_ARGUMENT) != 0 ? WIDE_CHAR_BYTES : NARROW_CHAR_BYTES;
  const UINTN OutputBytes = Call.Sink.BytesPerChar;
  const UINT8 *const End = Call.Sink.End;
  UINT8 *Write = Position;
  for (const UINT8 *Text = Field.Text; Write != End; Write += OutputBytes, Text += CharBytes) {
    const UINT16 Character = ReadChar(Text, CharBytes);
    if (Character == 0) {
      break;
    }
    StoreChar(Write, OutputBytes, Character);
  }
  if (Write == Position && Field.Precision != 0) {
    StoreChar(Write, OutputBytes, PAD_TEXT_CHAR);
    Write += OutputBytes;
  }
  return Write;
}

#pragma clang attribute pop
