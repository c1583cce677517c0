// The format engine's text conversions: "a" (narrow string), "s" and "S" (wide string), "c"
// (one UCS-2 character), "g" (EFI_GUID), "t" (EFI_TIME) and "r" (EFI_STATUS). Each takes one
// argument slot and hands a text to the output stage; GUIDs, times and unnamed statuses are
// rendered first through FormatAscii into the calling FormatCore run's scratch area. That
// nested run has its own scratch area for its digits, so the texts never overlap.
#include "firmware/UefiStatus.h"
#include "print/FormatDirective.h"
#include "print/StatusTexts.h"

namespace {

// Texts of null pointers; all narrow.
constexpr CHAR8 NULL_STRING_TEXT[] = "<null string>";
constexpr CHAR8 NULL_GUID_TEXT[] = "<null guid>";
constexpr CHAR8 NULL_TIME_TEXT[] = "<null time>";

// 8-4-4-4-12 hexadecimal GUID text: Data1, Data2, Data3, Data4[0..7].
constexpr CHAR8 GUID_TEXT_FORMAT[] = "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
// Month/day/year, two blanks, hour:minute.
constexpr CHAR8 TIME_TEXT_FORMAT[] = "%02d/%02d/%04d  %02d:%02d";
// A status outside both text tables: the low 32 bits of its slot as eight digits.
constexpr CHAR8 STATUS_NUMBER_FORMAT[] = "%08X";

// The low 16 bits of a slot: the character of "c".
constexpr ArgumentSlot CHAR_SLOT_MASK = 0xFFFF;

// Sub-formatting into the scratch area: narrow format, narrow output.
constexpr FormatFlags SCRATCH_FLAGS = 0;

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

// "g": the GUID's 36-character text, or the null placeholder.
void ConvertGuid(FormatCall &Call, Directive &Field) {
  const UINT8 *Guid = SlotBytes(TakeArgument(Call));
  if (Guid == nullptr) {
    UseNarrowText(Field, NULL_GUID_TEXT);
    return;
  }
  const UINT8 *Tail = Guid + offsetof(EFI_GUID, Data4);
  FormatAscii(Call.Scratch, FORMAT_SCRATCH_CHARS, SCRATCH_FLAGS, GUID_TEXT_FORMAT,
              ReadLittleEndian(Guid + offsetof(EFI_GUID, Data1), sizeof(UINT32)),
              ReadLittleEndian(Guid + offsetof(EFI_GUID, Data2), sizeof(UINT16)),
              ReadLittleEndian(Guid + offsetof(EFI_GUID, Data3), sizeof(UINT16)), UINT32{Tail[0]},
              UINT32{Tail[1]}, UINT32{Tail[2]}, UINT32{Tail[3]}, UINT32{Tail[4]}, UINT32{Tail[5]},
              UINT32{Tail[6]}, UINT32{Tail[7]});
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
  FormatAscii(Call.Scratch, FORMAT_SCRATCH_CHARS, SCRATCH_FLAGS, TIME_TEXT_FORMAT,
              UINT32{Time[offsetof(EFI_TIME, Month)]}, UINT32{Time[offsetof(EFI_TIME, Day)]},
              ReadLittleEndian(Time + offsetof(EFI_TIME, Year), sizeof(UINT16)),
              UINT32{Time[offsetof(EFI_TIME, Hour)]}, UINT32{Time[offsetof(EFI_TIME, Minute)]});
  UseNarrowText(Field, Call.Scratch);
}

// "r": the status's row in the text tables, else its low 32 bits as eight hexadecimal digits.
void ConvertStatus(FormatCall &Call, Directive &Field) {
  const EFI_STATUS Status = TakeArgument(Call);
  const CHAR8 *Text = StatusText(Status);
  if (Text == nullptr) {
    FormatAscii(Call.Scratch, FORMAT_SCRATCH_CHARS, SCRATCH_FLAGS, STATUS_NUMBER_FORMAT,
                static_cast<UINT64>(Status));
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
