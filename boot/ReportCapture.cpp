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

void CaptureSinkWrite(void *Context, const CHAR16 *Text) {
  CaptureReportText(*static_cast<ReportCapture *>(Context), Text);
}

constinit ReportSink CaptureSink = {};

} // namespace

bool StartReportCapture(ReportCapture &Capture) {
  Capture = {};
  void *Buffer = nullptr;
  if (EfiIsError(BootServices->AllocatePool(EfiLoaderData, REPORT_CAPTURE_BYTES, &Buffer)) ||
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
