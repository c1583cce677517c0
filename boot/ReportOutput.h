// The one road of every report line the boot image shows (firmware facts, the annotated
// driver lines, verdicts, the count line and the summary): to the console, through the pager,
// and to a sink when one is set, which keeps the same text elsewhere (the report file).
// Prompts, the wait line and the countdown do not take this road.
#pragma once

#include "firmware/SimpleTextInput.h"
#include "firmware/SimpleTextOutput.h"
#include "print/ArgumentList.h"

// Where the report's text goes besides the console: Write is called with each text exactly as
// given to ReportWrite.
struct ReportSink {
  void (*Write)(void *Context, const CHAR16 *Text);
  void *Context;
};

// Sets the sink the report's text also goes to (null: none). The sink is copied.
void SetReportSink(const ReportSink *Sink);

// Sends the console (null: none) the report goes to; with Paging it pauses at each full page
// for a key on Input (see ConsolePager.h). Forgets the sink.
void StartReportOutput(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                       EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input, bool Paging);

// Writes Text (which may hold several lines, ended by LF or CR LF) to the console and to the
// sink.
void ReportWrite(const CHAR16 *Text);

// A text output protocol whose OutputString is ReportWrite, for the print functions; its Mode
// is the console's.
EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ReportConsole();

// Renders Format with Arguments (as Print does) and writes it through ReportWrite.
UINT64 ReportPrintSlots(const CHAR16 *Format, const ArgumentSlot *Arguments);

template <typename... Args>
UINT64 ReportPrint(const CHAR16 *Format, Args... Arguments) {
  const ArgumentSlot Slots[sizeof...(Args) + 1] = {ToArgumentSlot(Arguments)..., 0};
  return ReportPrintSlots(Format, Slots);
}
