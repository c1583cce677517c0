// The annotating console: each string the survey writes is one line of its report, written
// through unchanged; the header before it and the sizes after it are written around it.
#include "boot/AnnotatedConsole.h"

#include "boot/RebarNotes.h"
#include "boot/ReportOutput.h"
#include "boot/RootBridgeRecorder.h"
#include "boot/VerdictScreen.h"
#include "print/ConsolePrint.h"
#include "verdict/BarLineText.h"
#include "verdict/SizeIndexWords.h"

namespace {

// Hex digits of the header's fields, and its lower-case digits (lspci's form). A segment takes
// four digits, and up to eight when its value needs them (Intel VMD domains start at 10000).
constexpr UINTN SEGMENT_DIGITS = 4;
constexpr UINTN SEGMENT_DIGITS_MAX = 8;
constexpr UINTN BUS_DIGITS = 2;
constexpr UINTN DEVICE_DIGITS = 2;
constexpr UINTN FUNCTION_DIGITS = 1;
constexpr UINTN ID_DIGITS = 4;
constexpr CHAR16 HEX_DIGITS[] = u"0123456789abcdef";
constexpr UINT32 HEX_DIGIT_BITS = 4;
constexpr UINT32 HEX_DIGIT_MASK = 0xF;
// "SSSSSSSS:BB:DD.F vvvv:dddd", CR LF and the terminator.
constexpr UINTN HEADER_CHARS = SEGMENT_DIGITS_MAX + 1 + BUS_DIGITS + 1 + DEVICE_DIGITS + 1 +
                               FUNCTION_DIGITS + 1 + ID_DIGITS + 1 + ID_DIGITS + 2 + 1;
static_assert(HEADER_CHARS == 29);

struct AnnotatingConsole {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Protocol;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console;
  // The function the previous string belonged to.
  FunctionRead Previous;
};
constinit AnnotatingConsole Annotating = {};

// Characters of a string the survey wrote, its terminator left out: at most a print buffer's.
UINTN TextLength(const CHAR16 *String) {
  UINTN Length = 0;
  while (Length < PRINT_BUFFER_CHARS && String[Length] != u'\0') {
    ++Length;
  }
  return Length;
}

// Appends Value as Digits lower-case hex digits at Out.
CHAR16 *PutHex(CHAR16 *Out, UINT32 Value, UINTN Digits) {
  for (UINTN Index = Digits; Index > 0; --Index) {
    Out[Index - 1] = HEX_DIGITS[Value & HEX_DIGIT_MASK];
    Value >>= HEX_DIGIT_BITS;
  }
  return Out + Digits;
}

// The digits Segment is printed with: four, or as many as its value needs.
UINTN SegmentDigits(UINT32 Segment) {
  UINTN Digits = SEGMENT_DIGITS;
  while (Digits < SEGMENT_DIGITS_MAX && (Segment >> (Digits * HEX_DIGIT_BITS)) != 0) {
    ++Digits;
  }
  return Digits;
}

// Writes the header of Read's function: its address, and its IDs when the survey read both.
void WriteHeader(const FunctionRead &Read) {
  CHAR16 Header[HEADER_CHARS];
  CHAR16 *Out = PutHex(Header, Read.Segment, SegmentDigits(Read.Segment));
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

// An ID the survey did not read: what an absent register reads.
constexpr UINT16 ID_NOT_READ = 0xFFFF;

EFI_STATUS EFIAPI AnnotatingOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  const FunctionRead &Read = LastFunctionRead();
  const UINTN Length = String != nullptr ? TextLength(String) : 0;
  UINT32 Numbers[BAR_LINE_NUMBERS] = {};
  const bool BarLine = String != nullptr && ParseBarLineNumbers(String, Length, Numbers);
  // An RBarSizes line that no BAR line followed gets its notes before whatever comes next.
  if (!BarLine) {
    WriteRebarNotes(false);
  }
  if (Read.Valid && !SameFunction(Read, Annotating.Previous)) {
    WriteHeader(Read);
    StartRebarNotes();
  }
  Annotating.Previous = Read;
  const EFI_STATUS Status = Annotating.Console->OutputString(Annotating.Console, String);
  UINT32 Mask = 0;
  if (String != nullptr && ParseRbarSizesLine(String, Length, Mask)) {
    const FunctionHeader Function = {Read.Segment,
                                     static_cast<UINT8>(Read.Bus),
                                     static_cast<UINT8>(Read.Device),
                                     static_cast<UINT8>(Read.Function),
                                     nullptr,
                                     0};
    NoteRbarSizesLine(RecordedBridge(), Function, Read.HasVendorId ? Read.VendorId : ID_NOT_READ,
                      Read.HasDeviceId ? Read.DeviceId : ID_NOT_READ, Mask);
  }
  if (BarLine) {
    WriteText(u"  ");
    WriteSize(Numbers[BAR_LINE_CURRENT]);
    WriteText(u" -> ");
    WriteSize(Numbers[BAR_LINE_PROPOSED]);
    WriteText(u"\n");
    WriteRebarNotes(true);
    WriteVerdictLine(Read, Numbers);
  }
  return Status;
}

} // namespace

EFI_SYSTEM_TABLE *AnnotatingSystemTable(const EFI_SYSTEM_TABLE &Real, AnnotatingTables &Tables) {
  Tables.System = Real;
  Tables.System.BootServices = RecordingBootServices(*Real.BootServices, Tables.BootServices);
  Annotating.Protocol.OutputString = AnnotatingOutputString;
  Annotating.Protocol.Mode = Real.ConOut != nullptr ? Real.ConOut->Mode : nullptr;
  // Every line, the survey's and the annotation's, takes the report's road.
  Annotating.Console = Real.ConOut != nullptr ? ReportConsole() : nullptr;
  Annotating.Previous = {};
  Tables.System.ConOut = Real.ConOut != nullptr ? &Annotating.Protocol : nullptr;
  return &Tables.System;
}

void EndAnnotation() {
  WriteRebarNotes(false);
}
