// Buffered writes of ASCII text to an open file: text gathers in one pool buffer and goes to
// the file a buffer at a time. The first failure is kept and every later write is skipped, so
// a sequence of writes is checked once, at its end.
#pragma once

#include "firmware/FileProtocol.h"
#include "firmware/UefiBase.h"

// Bytes gathered before a write to the file.
inline constexpr UINTN REPORT_WRITE_BUFFER_BYTES = 16 * 1024;

struct ReportFileWriter {
  EFI_FILE_PROTOCOL *File;
  CHAR8 *Buffer;
  UINTN Used;
  // EFI_SUCCESS, or the first failure (of the pool, a write or a flush).
  EFI_STATUS Status;
  // Bytes the file accepted.
  UINT64 Written;
};

// A writer to File with its buffer (Status EFI_OUT_OF_RESOURCES when none could be obtained).
ReportFileWriter OpenReportWriter(EFI_FILE_PROTOCOL *File);

// Appends Count bytes of Bytes.
void WriteBytes(ReportFileWriter &Writer, const CHAR8 *Bytes, UINTN Count);

// Appends a NUL-terminated string.
void WriteString(ReportFileWriter &Writer, const CHAR8 *Text);

// Appends Value as Digits lower-case hex digits (the low ones when Value has more).
void WriteHex(ReportFileWriter &Writer, UINT64 Value, UINTN Digits);

// Appends Value in decimal.
void WriteDecimal(ReportFileWriter &Writer, UINT64 Value);

// Writes what is gathered to the file, then has the file flushed to its device. Returns the
// writer's status.
EFI_STATUS FlushReportWriter(ReportFileWriter &Writer);

// Gives the buffer back (what is gathered and not flushed is dropped).
void CloseReportWriter(ReportFileWriter &Writer);
