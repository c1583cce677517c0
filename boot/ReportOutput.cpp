// The report's output: one console protocol in front of the pager, and the sink beside it.
#include "boot/ReportOutput.h"

#include "boot/ConsolePager.h"
#include "print/ConsolePrint.h"

namespace {

constinit ReportSink Sink = {};
constinit EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Report = {};

EFI_STATUS EFIAPI ReportOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  ReportWrite(String);
  return EFI_SUCCESS;
}

} // namespace

void SetReportSink(const ReportSink *NewSink) {
  Sink = NewSink != nullptr ? *NewSink : ReportSink{};
}

void StartReportOutput(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                       EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input, bool Paging) {
  Sink = {};
  Report.OutputString = ReportOutputString;
  Report.Mode = Console != nullptr ? Console->Mode : nullptr;
  StartPager(Console, Input, Paging);
}

void ReportWrite(const CHAR16 *Text) {
  if (Text == nullptr) {
    return;
  }
  PagerWrite(Text);
  if (Sink.Write != nullptr) {
    Sink.Write(Sink.Context, Text);
  }
}

EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ReportConsole() {
  return &Report;
}

UINT64 ReportPrintSlots(const CHAR16 *Format, const ArgumentSlot *Arguments) {
  return PrintToConsole(Format, &Report, Arguments);
}
