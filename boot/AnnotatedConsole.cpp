// The annotating console: each string the survey writes is one line of its report, written
// through unchanged; the header before it and the sizes after it are written around it.
#include "boot/AnnotatedConsole.h"

#include "boot/RootBridgeRecorder.h"
#include "boot/SizeIndexWords.h"
#include "print/ConsolePrint.h"

namespace {

// The words of a BAR line, numbers in between: "BAR b RBAR CURRENT c RBAR MAX m RBAR NEW n".
constexpr const CHAR16 *BAR_LINE_WORDS[] = {u"BAR ", u" RBAR CURRENT ", u" RBAR MAX ",
                                            u" RBAR NEW "};
constexpr UINTN BAR_LINE_NUMBERS = sizeof(BAR_LINE_WORDS) / sizeof(BAR_LINE_WORDS[0]);
constexpr UINTN CURRENT_NUMBER = 1;
constexpr UINTN PROPOSED_NUMBER = 3;
// Digits of a decimal number the survey prints: a 32-bit value has at most ten.
constexpr UINTN MAX_DECIMAL_DIGITS = 10;
constexpr UINT32 DECIMAL_BASE = 10;

// Hex digits of the header's fields, and its lower-case digits (lspci's form).
constexpr UINTN SEGMENT_DIGITS = 4;
constexpr UINTN BUS_DIGITS = 2;
constexpr UINTN DEVICE_DIGITS = 2;
constexpr UINTN FUNCTION_DIGITS = 1;
constexpr UINTN ID_DIGITS = 4;
constexpr CHAR16 HEX_DIGITS[] = u"0123456789abcdef";
constexpr UINT32 HEX_DIGIT_BITS = 4;
constexpr UINT32 HEX_DIGIT_MASK = 0xF;
// "SSSS:BB:DD.F vvvv:dddd", CR LF and the terminator.
constexpr UINTN HEADER_CHARS = SEGMENT_DIGITS + 1 + BUS_DIGITS + 1 + DEVICE_DIGITS + 1 +
                               FUNCTION_DIGITS + 1 + ID_DIGITS + 1 + ID_DIGITS + 2 + 1;
static_assert(HEADER_CHARS == 25);

struct AnnotatingConsole {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Protocol;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console;
  // The function the previous string belonged to.
  FunctionRead Previous;
};
constinit AnnotatingConsole Annotating = {};

// Takes Word from the front of Text.
bool TakeWord(const CHAR16 *&Text, const CHAR16 *Word) {
  const CHAR16 *Cursor = Text;
  for (; *Word != u'\0'; ++Word, ++Cursor) {
    if (*Cursor != *Word) {
      return false;
    }
  }
  Text = Cursor;
  return true;
}

// Takes a decimal number of one to ten digits that fits 32 bits from the front of Text.
bool TakeNumber(const CHAR16 *&Text, UINT32 &Value) {
  UINT64 Number = 0;
  UINTN Digits = 0;
  while (Text[Digits] >= u'0' && Text[Digits] <= u'9' && Digits < MAX_DECIMAL_DIGITS) {
    Number = Number * DECIMAL_BASE + static_cast<UINT64>(Text[Digits] - u'0');
    ++Digits;
  }
  if (Digits == 0 || Number > UINT32_MAX || (Text[Digits] >= u'0' && Text[Digits] <= u'9')) {
    return false;
  }
  Value = static_cast<UINT32>(Number);
  Text += Digits;
  return true;
}

// Appends Value as Digits lower-case hex digits at Out.
CHAR16 *PutHex(CHAR16 *Out, UINT32 Value, UINTN Digits) {
  for (UINTN Index = Digits; Index > 0; --Index) {
    Out[Index - 1] = HEX_DIGITS[Value & HEX_DIGIT_MASK];
    Value >>= HEX_DIGIT_BITS;
  }
  return Out + Digits;
}

// Writes the header of Read's function: its address, and its IDs when the survey read both.
void WriteHeader(const FunctionRead &Read) {
  CHAR16 Header[HEADER_CHARS];
  CHAR16 *Out = PutHex(Header, Read.Segment, SEGMENT_DIGITS);
  *Out++ = u':';
  Out = PutHex(Out, Read.Bus, BUS_DIGITS);
  *Out++ = u':';
  Out = PutHex(Out, Read.Device, DEVICE_DIGITS);
  *Out++ = u'.';
  Out = PutHex(Out, Read.Function, FUNCTION_DIGITS);
  if (Read.HasVendorId && Read.HasDeviceId) {
    *Out++ = u' ';
    Out = PutHex(Out, Read.VendorId, ID_DIGITS);
    *Out++ = u':';
    Out = PutHex(Out, Read.DeviceId, ID_DIGITS);
  }
  *Out++ = u'\r';
  *Out++ = u'\n';
  *Out = u'\0';
  Annotating.Console->OutputString(Annotating.Console, Header);
}

// Writes Format (no arguments) to the console.
void WriteText(const CHAR16 *Format) {
  const ArgumentSlot None[] = {0};
  PrintToConsole(Format, Annotating.Console, None);
}

// Writes one size in words.
void WriteSize(UINT32 Index) {
  const SizeWords Words = SizeIndexWords(Index);
  if (Words.Unit == nullptr) {
    const ArgumentSlot Slots[] = {ToArgumentSlot(Words.Count), 0};
    PrintToConsole(u"2^%u MB", Annotating.Console, Slots);
  } else {
    const ArgumentSlot Slots[] = {ToArgumentSlot(Words.Count), ToArgumentSlot(Words.Unit), 0};
    PrintToConsole(u"%u %a", Annotating.Console, Slots);
  }
}

EFI_STATUS EFIAPI AnnotatingOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  const FunctionRead &Read = LastFunctionRead();
  if (Read.Valid && !SameFunction(Read, Annotating.Previous)) {
    WriteHeader(Read);
  }
  Annotating.Previous = Read;
  const EFI_STATUS Status = Annotating.Console->OutputString(Annotating.Console, String);
  UINT32 Current = 0;
  UINT32 Proposed = 0;
  if (ParseBarLineSizes(String, Current, Proposed)) {
    WriteText(u"  ");
    WriteSize(Current);
    WriteText(u" -> ");
    WriteSize(Proposed);
    WriteText(u"\n");
  }
  return Status;
}

} // namespace

bool ParseBarLineSizes(const CHAR16 *String, UINT32 &Current, UINT32 &Proposed) {
  if (String == nullptr) {
    return false;
  }
  UINT32 Numbers[BAR_LINE_NUMBERS] = {};
  const CHAR16 *Text = String;
  for (UINTN Index = 0; Index < BAR_LINE_NUMBERS; ++Index) {
    if (!TakeWord(Text, BAR_LINE_WORDS[Index]) || !TakeNumber(Text, Numbers[Index])) {
      return false;
    }
  }
  // The line end, CR LF or LF, may be part of the string.
  if (!TakeWord(Text, u"\r\n")) {
    TakeWord(Text, u"\n");
  }
  if (*Text != u'\0') {
    return false;
  }
  Current = Numbers[CURRENT_NUMBER];
  Proposed = Numbers[PROPOSED_NUMBER];
  return true;
}

EFI_SYSTEM_TABLE *AnnotatingSystemTable(const EFI_SYSTEM_TABLE &Real, AnnotatingTables &Tables) {
  Tables.System = Real;
  Tables.System.BootServices = RecordingBootServices(*Real.BootServices, Tables.BootServices);
  Annotating.Protocol.OutputString = AnnotatingOutputString;
  Annotating.Protocol.Mode = Real.ConOut != nullptr ? Real.ConOut->Mode : nullptr;
  Annotating.Console = Real.ConOut;
  Annotating.Previous = {};
  Tables.System.ConOut = Real.ConOut != nullptr ? &Annotating.Protocol : nullptr;
  return &Tables.System;
}
