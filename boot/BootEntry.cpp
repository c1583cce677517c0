// The boot image's entry point: the driver's survey, unchanged, annotated on the console, then
// the count line and the wait for a key or the countdown.
#include "boot/BootEntry.h"

#include "boot/AnnotatedConsole.h"
#include "boot/BootCountdown.h"
#include "boot/BootMode.h"
#include "boot/BootStatus.h"
#include "boot/ReportFile.h"
#include "boot/ReportOutput.h"
#include "driver/DriverEntry.h"
#include "driver/DriverGlobals.h"
#include "print/ConsolePrint.h"

void PrintRebarFunctionCount(UINT32 Count) {
  if (Count == 1) {
    Print(u"rbar-survey: 1 function with a Resizable BAR found\n");
  } else {
    Print(u"rbar-survey: %u functions with a Resizable BAR found\n", Count);
  }
}

extern "C" EFI_STATUS EFIAPI BootEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table) {
  // Keys pressed before the report shows were not meant for the countdown.
  DiscardPendingKeys(Table->ConIn);

  // The report is kept for its file when the image was started from a stick or asked to save.
  SystemTable = Table;
  BootServices = Table->BootServices;
  ReportFileTarget Target = {};
  static constinit ReportCapture Capture = {};
  const bool Saving = ChooseReportFile(Image, WantsSave(Image), Target);
  if (Saving) {
    StartReportCapture(Capture);
  }
  static constinit EFI_SYSTEM_TABLE ReportTable = {};
  ReportTable = *Table;
  ReportTable.ConOut = ReportConsole(Table->ConOut);

  // The driver's own entry point: the same reads and report lines, on tables that annotate them.
  static constinit AnnotatingTables Tables = {};
  DriverEntry(Image, AnnotatingSystemTable(ReportTable, Tables));
  // The image's own lines go to the console as they are.
  SystemTable = &ReportTable;
  BootServices = Table->BootServices;
  PrintRebarFunctionCount(RebarFunctionCount);
  SystemTable = Table;

  if (Saving) {
    StopReportCapture();
    ShowSaveResult(SaveReportFile(Capture, Target), Target);
    FreeReportCapture(Capture);
  }
  const BootMode Mode = ChooseBootMode(Image);
  if (Mode.After == AfterReport::WaitForKey && WaitForKey(Table->ConIn) == WaitEnd::KeyPressed) {
    return BOOT_OPTION_GO_ON_STATUS;
  }
  // Without a keyboard a wait falls back to the usual countdown, which ends by itself.
  const UINT32 Seconds =
      Mode.After == AfterReport::Countdown ? Mode.CountdownSeconds : BOOT_COUNTDOWN_SECONDS;
  if (Seconds > 0) {
    RunCountdown(Seconds, Table->ConIn);
  }
  return BOOT_OPTION_GO_ON_STATUS;
}
