// The report capture: the report's lines as ASCII in one pool buffer.
#include "boot/ReportCapture.h"

#include "driver/DriverGlobals.h"

namespace {

constexpr CHAR16 FIRST_PRINTABLE = u' ';
constexpr CHAR16 LAST_PRINTABLE = u'~';
constexpr CHAR8 UNPRINTABLE = '?';
constexpr UINTN PREFIX_BYTES = sizeof(REPORT_LINE_PREFIX) - 1;
// Characters of one string looked at: far more than any report line.
constexpr UINTN TEXT_MAX_CHARS = 4096;

constexpr UINTN INDENT_BYTES = sizeof(REPORT_CONTINUATION_INDENT) - 1;
constexpr UINTN LINE_END_BYTES = 2;

// Appends Count bytes of Bytes; the caller made room.
void Append(ReportCapture &Capture, const CHAR8 *Bytes, UINTN Count) {
  for (UINTN Index = 0; Index < Count; ++Index) {
    Capture.Text[Capture.Size++] = Bytes[Index];
  }
}

// Ends the line being kept and starts a continuation line with the part of it after its last
// space (nothing when there is none), so that it stays within REPORT_LINE_MAX_CHARS. Spaces
// within an indent's width of the line's start are not taken, so the new line is always shorter
// than the old. False when there is no room.
bool BreakLine(ReportCapture &Capture) {
  const UINTN TextStart = Capture.LineStart + PREFIX_BYTES + INDENT_BYTES;
  UINTN Break = Capture.Size;
  for (UINTN Index = Capture.Size; Index > TextStart + 1; --Index) {
    if (Capture.Text[Index - 1] == ' ') {
      Break = Index - 1;
      break;
    }
  }
  const bool AtSpace = Break < Capture.Size;
  CHAR8 Tail[REPORT_LINE_MAX_CHARS];
  const UINTN TailBytes = AtSpace ? Capture.Size - Break - 1 : 0;
  for (UINTN Index = 0; Index < TailBytes; ++Index) {
    Tail[Index] = Capture.Text[Break + 1 + Index];
  }
  if (Break + LINE_END_BYTES + PREFIX_BYTES + INDENT_BYTES + TailBytes + LINE_END_BYTES >
      Capture.Capacity) {
    return false;
  }
  Capture.Size = Break;
  Append(Capture, "\r\n", LINE_END_BYTES);
  Capture.LineStart = Capture.Size;
  Append(Capture, REPORT_LINE_PREFIX, PREFIX_BYTES);
  Append(Capture, REPORT_CONTINUATION_INDENT, INDENT_BYTES);
  Append(Capture, Tail, TailBytes);
  return true;
}

void CaptureSinkWrite(void *Context, const CHAR16 *Text) {
  CaptureReportText(*static_cast<ReportCapture *>(Context), Text);
}

constinit ReportSink CaptureSink = {};

} // namespace

bool StartReportCapture(ReportCapture &Capture) {
  Capture = {};
  void *Buffer = nullptr;
  if (EfiIsError(BootServices->AllocatePool(EfiBootServicesData, REPORT_CAPTURE_BYTES, &Buffer)) ||
      Buffer == nullptr) {
    return false;
  }
  Capture.Text = static_cast<CHAR8 *>(Buffer);
  Capture.Capacity = REPORT_CAPTURE_BYTES;
  Capture.AtLineStart = true;
  CaptureSink = {CaptureSinkWrite, &Capture};
  SetReportSink(&CaptureSink);
  return true;
}

void StopReportCapture() {
  SetReportSink(nullptr);
}

void FreeReportCapture(ReportCapture &Capture) {
  if (Capture.Text != nullptr) {
    BootServices->FreePool(Capture.Text);
  }
  Capture = {};
}

void CaptureReportText(ReportCapture &Capture, const CHAR16 *Text) {
  if (Capture.Text == nullptr || Text == nullptr) {
    return;
  }
  for (UINTN Index = 0; Index < TEXT_MAX_CHARS && Text[Index] != u'\0' && !Capture.Cut; ++Index) {
    const CHAR16 Character = Text[Index];
    if (Character == u'\r') {
      continue;
    }
    // Room for the prefix, this character and a line end.
    if (Capture.Size + PREFIX_BYTES + 3 > Capture.Capacity) {
      Capture.Size = Capture.LineStart;
      Capture.Cut = true;
      break;
    }
    if (Capture.AtLineStart) {
      Capture.LineStart = Capture.Size;
      for (UINTN Prefix = 0; Prefix < PREFIX_BYTES; ++Prefix) {
        Capture.Text[Capture.Size++] = REPORT_LINE_PREFIX[Prefix];
      }
      Capture.AtLineStart = false;
    }
    if (Character != u'\n' && Capture.Size - Capture.LineStart >= REPORT_LINE_MAX_CHARS &&
        !BreakLine(Capture)) {
      Capture.Size = Capture.LineStart;
      Capture.Cut = true;
      break;
    }
    if (Character == u'\n') {
      Capture.Text[Capture.Size++] = '\r';
      Capture.Text[Capture.Size++] = '\n';
      Capture.AtLineStart = true;
      Capture.LineStart = Capture.Size;
    } else {
      const bool Printable = Character >= FIRST_PRINTABLE && Character <= LAST_PRINTABLE;
      Capture.Text[Capture.Size++] = Printable ? static_cast<CHAR8>(Character) : UNPRINTABLE;
    }
  }
}
