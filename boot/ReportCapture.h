// The report kept for the report file: a sink for the report output that appends each line,
// prefixed "# ", to one pool buffer as ASCII with CR LF line ends.
#pragma once

#include "boot/ReportOutput.h"
#include "firmware/UefiBase.h"

// Bytes of report text kept; a longer report is cut at a line end and the cut is said.
inline constexpr UINTN REPORT_CAPTURE_BYTES = 256 * 1024;
// What every kept line starts with, so that dump readers (lspci -F, rbar-survey -F) skip it.
inline constexpr char REPORT_LINE_PREFIX[] = "# ";
// Longest kept line, its prefix included: lspci -F refuses a dump with a line of about 250
// characters or more. A longer line goes on in a next line, after the prefix and this indent
// (the console's own for the rest of a line too long for it).
inline constexpr UINTN REPORT_LINE_MAX_CHARS = 200;
inline constexpr char REPORT_CONTINUATION_INDENT[] = "    ";

struct ReportCapture {
  // The pool buffer (null when none could be obtained) and the bytes in it.
  CHAR8 *Text;
  UINTN Size;
  UINTN Capacity;
  // Where the line being kept starts, to take back a line that does not fit whole.
  UINTN LineStart;
  // The next character starts a line.
  bool AtLineStart;
  // A line did not fit: the text ends with the last whole line that did.
  bool Cut;
};

// Obtains the buffer and sets Capture as the report sink. False (and no sink) when the pool
// has no buffer to give.
bool StartReportCapture(ReportCapture &Capture);

// Removes the sink; the text stays.
void StopReportCapture();

// Gives the buffer back.
void FreeReportCapture(ReportCapture &Capture);

// Appends Text to Capture: LF and CR LF end a line (CR LF is written), other CRs are dropped,
// characters outside printable ASCII become '?', and each line starts with REPORT_LINE_PREFIX.
// A line longer than REPORT_LINE_MAX_CHARS is broken at its last space (or, with none, where it
// reaches the limit) and goes on after REPORT_CONTINUATION_INDENT.
// A line that does not fit sets Cut, and nothing more is kept.
void CaptureReportText(ReportCapture &Capture, const CHAR16 *Text);
