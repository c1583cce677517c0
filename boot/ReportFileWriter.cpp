// The report file's buffered writer.
#include "boot/ReportFileWriter.h"

#include "driver/DriverGlobals.h"

namespace {

constexpr CHAR8 HEX_DIGITS[] = "0123456789abcdef";
constexpr UINT32 HEX_DIGIT_BITS = 4;
constexpr UINT64 HEX_DIGIT_MASK = 0xF;
constexpr UINT64 DECIMAL_BASE = 10;
// Decimal digits of the largest 64-bit value.
constexpr UINTN DECIMAL_MAX_DIGITS = 20;
constexpr UINTN HEX_MAX_DIGITS = 16;

// Hands the gathered bytes to the file.
void Drain(ReportFileWriter &Writer) {
  if (Writer.Used == 0 || EfiIsError(Writer.Status)) {
    Writer.Used = 0;
    return;
  }
  UINTN Size = Writer.Used;
  const EFI_STATUS Status = Writer.File->Write(Writer.File, &Size, Writer.Buffer);
  Writer.Written += Size;
  if (EfiIsError(Status)) {
    Writer.Status = Status;
  } else if (Size != Writer.Used) {
    // A short write with success: the medium took no more.
    Writer.Status = EFI_VOLUME_FULL;
  }
  Writer.Used = 0;
}

} // namespace

ReportFileWriter OpenReportWriter(EFI_FILE_PROTOCOL *File) {
  ReportFileWriter Writer = {};
  Writer.File = File;
  void *Buffer = nullptr;
  if (EfiIsError(
          BootServices->AllocatePool(EfiBootServicesData, REPORT_WRITE_BUFFER_BYTES, &Buffer)) ||
      Buffer == nullptr) {
    Writer.Status = EFI_OUT_OF_RESOURCES;
    return Writer;
  }
  Writer.Buffer = static_cast<CHAR8 *>(Buffer);
  return Writer;
}

void WriteBytes(ReportFileWriter &Writer, const CHAR8 *Bytes, UINTN Count) {
  for (UINTN Index = 0; Index < Count && !EfiIsError(Writer.Status); ++Index) {
    if (Writer.Used == REPORT_WRITE_BUFFER_BYTES) {
      Drain(Writer);
    }
    Writer.Buffer[Writer.Used++] = Bytes[Index];
  }
}

void WriteString(ReportFileWriter &Writer, const CHAR8 *Text) {
  UINTN Length = 0;
  while (Text[Length] != '\0') {
    ++Length;
  }
  WriteBytes(Writer, Text, Length);
}

void WriteHex(ReportFileWriter &Writer, UINT64 Value, UINTN Digits) {
  CHAR8 Text[HEX_MAX_DIGITS];
  Digits = Digits < HEX_MAX_DIGITS ? Digits : HEX_MAX_DIGITS;
  for (UINTN Index = Digits; Index > 0; --Index) {
    Text[Index - 1] = HEX_DIGITS[Value & HEX_DIGIT_MASK];
    Value >>= HEX_DIGIT_BITS;
  }
  WriteBytes(Writer, Text, Digits);
}

void WriteDecimal(ReportFileWriter &Writer, UINT64 Value) {
  CHAR8 Text[DECIMAL_MAX_DIGITS];
  UINTN First = DECIMAL_MAX_DIGITS;
  do {
    Text[--First] = static_cast<CHAR8>('0' + Value % DECIMAL_BASE);
    Value /= DECIMAL_BASE;
  } while (Value != 0);
  WriteBytes(Writer, Text + First, DECIMAL_MAX_DIGITS - First);
}

EFI_STATUS FlushReportWriter(ReportFileWriter &Writer) {
  Drain(Writer);
  if (!EfiIsError(Writer.Status)) {
    const EFI_STATUS Status = Writer.File->Flush(Writer.File);
    if (EfiIsError(Status)) {
      Writer.Status = Status;
    }
  }
  return Writer.Status;
}

void CloseReportWriter(ReportFileWriter &Writer) {
  if (Writer.Buffer != nullptr) {
    BootServices->FreePool(Writer.Buffer);
  }
  Writer.Buffer = nullptr;
  Writer.Used = 0;
}
