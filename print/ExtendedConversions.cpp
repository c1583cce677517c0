// Conversions that turn one argument into a piece of text: strings ("a", "s", "S"), one
// character ("c"), a GUID ("g"), a date and time ("t") and a status value ("r"). GUIDs, times
// and unknown statuses are rendered through FormatAscii into the calling FormatCore's scratch
// area; the inner call has its own scratch area, so the nesting is safe.
#include "firmware/UefiStatus.h"
#include "print/FormatDirective.h"
#include "print/StatusTexts.h"

namespace {

constexpr CHAR8 NULL_STRING_TEXT[] = "<null string>";
constexpr CHAR8 NULL_GUID_TEXT[] = "<null guid>";
constexpr CHAR8 NULL_TIME_TEXT[] = "<null time>";

constexpr CHAR8 GUID_FORMAT[] = "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
constexpr CHAR8 TIME_FORMAT[] = "%02d/%02d/%04d  %02d:%02d";
constexpr CHAR8 STATUS_NUMBER_FORMAT[] = "%08X";

// Low 16 bits of a "c" slot: the character.
constexpr ArgumentSlot CHARACTER_MASK = 0xFFFF;

// Reads a little-endian field of Size bytes, so records need not be aligned.
UINT32 ReadLe(const UINT8 *Bytes, UINTN Size) {
  UINT32 Value = 0;
  for (UINTN Index = Size; Index > 0; --Index) {
    Value = (Value << 8) | Bytes[Index - 1];
  }
  return Value;
}

// Strings: a narrow one for "a", a wide one for "s" and "S". Without a given precision the
// whole string prints, with no blanks of the precision's own.
void ConvertString(FormatCall &Call, Directive &Field, bool Wide) {
  const auto *Text = reinterpret_cast<const UINT8 *>(TakeArgument(Call));
  if (Wide) {
    Field.Flags |= WIDE_ARGUMENT;
  }
  if (Text == nullptr) {
    Text = AsBytes(NULL_STRING_TEXT);
    Field.Flags &= ~WIDE_ARGUMENT;
  }
  if ((Field.Flags & HAS_PRECISION) == 0) {
    Field.Precision = 0;
  }
  Field.Text = Text;
}

// One UCS-2 character followed by a NUL character.
void ConvertCharacter(FormatCall &Call, Directive &Field) {
  const auto Character = static_cast<UINT16>(TakeArgument(Call) & CHARACTER_MASK);
  Call.CharText[0] = static_cast<UINT8>(Character);
  Call.CharText[1] = static_cast<UINT8>(Character >> HIGH_BYTE_SHIFT);
  Call.CharText[2] = 0;
  Call.CharText[3] = 0;
  Field.Flags |= WIDE_ARGUMENT;
  Field.Text = Call.CharText;
}

// The 36-character 8-4-4-4-12 text of an EFI_GUID.
void ConvertGuid(FormatCall &Call, Directive &Field) {
  const auto *Guid = reinterpret_cast<const UINT8 *>(TakeArgument(Call));
  if (Guid == nullptr) {
    Field.Text = AsBytes(NULL_GUID_TEXT);
    return;
  }
  const UINT8 *Data4 = Guid + offsetof(EFI_GUID, Data4);
  FormatAscii(Call.Scratch, FORMAT_SCRATCH_CHARS, 0, GUID_FORMAT,
              ReadLe(Guid + offsetof(EFI_GUID, Data1), sizeof(UINT32)),
              ReadLe(Guid + offsetof(EFI_GUID, Data2), sizeof(UINT16)),
              ReadLe(Guid + offsetof(EFI_GUID, Data3), sizeof(UINT16)), UINT32{Data4[0]},
              UINT32{Data4[1]}, UINT32{Data4[2]}, UINT32{Data4[3]}, UINT32{Data4[4]},
              UINT32{Data4[5]}, UINT32{Data4[6]}, UINT32{Data4[7]});
  Field.Text = AsBytes(Call.Scratch);
}

// Month/day/year, two blanks, hour:minute of an EFI_TIME.
void ConvertTime(FormatCall &Call, Directive &Field) {
  const auto *Time = reinterpret_cast<const UINT8 *>(TakeArgument(Call));
  if (Time == nullptr) {
    Field.Text = AsBytes(NULL_TIME_TEXT);
    return;
  }
  FormatAscii(Call.Scratch, FORMAT_SCRATCH_CHARS, 0, TIME_FORMAT,
              UINT32{Time[offsetof(EFI_TIME, Month)]}, UINT32{Time[offsetof(EFI_TIME, Day)]},
              ReadLe(Time + offsetof(EFI_TIME, Year), sizeof(UINT16)),
              UINT32{Time[offsetof(EFI_TIME, Hour)]}, UINT32{Time[offsetof(EFI_TIME, Minute)]});
  Field.Text = AsBytes(Call.Scratch);
}

// The text of a status value, or its low 32 bits as eight hexadecimal digits.
void ConvertStatus(FormatCall &Call, Directive &Field) {
  const EFI_STATUS Status = TakeArgument(Call);
  if (EfiIsError(Status)) {
    const UINT64 Code = Status & ~EFI_ERROR_BIT;
    if (Code >= 1 && Code <= ERROR_ROWS) {
      Field.Text = AsBytes(ErrorTexts[Code - 1]);
      return;
    }
  } else if (Status < SUCCESS_WARNING_ROWS) {
    Field.Text = AsBytes(SuccessWarningTexts[Status]);
    return;
  }
  FormatAscii(Call.Scratch, FORMAT_SCRATCH_CHARS, 0, STATUS_NUMBER_FORMAT, Status);
  Field.Text = AsBytes(Call.Scratch);
}

} // namespace

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
