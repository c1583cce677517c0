// The report output: a console in front of the real one that hands each string to the sink too.
#include "boot/ReportOutput.h"

namespace {

constinit ReportSink Sink = {};
constinit EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Tee = {};
constinit EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Real = nullptr;

EFI_STATUS EFIAPI TeeOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  const EFI_STATUS Status = Real != nullptr ? Real->OutputString(Real, String) : EFI_SUCCESS;
  if (Sink.Write != nullptr && String != nullptr) {
    Sink.Write(Sink.Context, String);
  }
  return Status;
}

} // namespace

void SetReportSink(const ReportSink *NewSink) {
  Sink = NewSink != nullptr ? *NewSink : ReportSink{};
}

void ReportWrite(const CHAR16 *Text) {
  TeeOutputString(&Tee, Text);
}

EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ReportConsole(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console) {
  if (Console == nullptr) {
    return nullptr;
  }
  Real = Console;
  Tee = *Console;
  Tee.OutputString = TeeOutputString;
  return &Tee;
}
