// The boot image's report output: every line of the report goes to the console and, when a
// sink is set, to the sink as well.
#pragma once

#include "firmware/SimpleTextOutput.h"
#include "firmware/UefiBase.h"

struct ReportSink {
  void (*Write)(void *Context, const CHAR16 *Text);
  void *Context;
};

// Sets the sink that receives a copy of the report (null: none).
void SetReportSink(const ReportSink *Sink);

// Writes Text (one or more lines, LF or CR LF) to the console and to the sink.
void ReportWrite(const CHAR16 *Text);

// A text output protocol in front of Console whose strings go through ReportWrite.
EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ReportConsole(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console);
