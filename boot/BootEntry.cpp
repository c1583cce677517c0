// The boot image's entry point: the firmware's facts, the driver's survey, unchanged, annotated
// on the console, then the count line and the wait for a key or the countdown.
#include "boot/BootEntry.h"

#include "boot/AnnotatedConsole.h"
#include "boot/BootCountdown.h"
#include "boot/BootMode.h"
#include "boot/BootStatus.h"
#include "boot/ConsolePager.h"
#include "boot/FactsScreen.h"
#include "boot/FirmwareQueries.h"
#include "boot/HeaderCapture.h"
#include "boot/ReportFile.h"
#include "boot/ReportOutput.h"
#include "boot/VerdictScreen.h"
#include "driver/DriverEntry.h"
#include "driver/DriverGlobals.h"
#include "generated/RbarVersion.h"

namespace {

// The firmware's facts and their apertures, read once before the report.
constinit FirmwareFacts Facts = {};
constinit ApertureModel Apertures = {};
// The report kept for its file, when one is saved.
constinit ReportCapture Capture = {};

// The plural ending of a noun counted Count times.
const char *PluralEnding(UINT32 Count) {
  return Count == 1 ? "" : "s";
}

} // namespace

const FirmwareFacts &BootFirmwareFacts() {
  return Facts;
}

void PrintCountLine(const SurveyCounts &Counts, UINT32 RebarFunctions) {
  ReportPrint(u"rbar-survey %s: %u root bridge%a, %u function%a scanned, %u with Resizable BAR\n",
              RBAR_VERSION_TEXT, Counts.RootBridges, PluralEnding(Counts.RootBridges),
              Counts.FunctionsScanned, PluralEnding(Counts.FunctionsScanned), RebarFunctions);
}

extern "C" EFI_STATUS EFIAPI BootEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table) {
  SystemTable = Table;
  BootServices = Table->BootServices;
  // Keys pressed before the report shows were not meant for the pager or the countdown.
  DiscardPendingKeys(Table->ConIn);
  const BootMode Mode = ChooseBootMode(Image);
  // A person waits in front of the screen: it pauses at each full page.
  StartReportOutput(Table->ConOut, Table->ConIn, Mode.After == AfterReport::WaitForKey);
  // Started from a stick, or asked to save: the report is kept for its file.
  ReportFileTarget Target = {};
  const bool Saving = ChooseReportFile(Image, WantsSave(Image), Target);
  if (Saving) {
    StartReportCapture(Capture);
  }
  const PlatformFacts Platform = ReadPlatformFacts(*Table);
  ReadFirmwareFacts(*Table, Facts);
  BuildApertures(Facts, Apertures);
  WriteFactsScreen(Platform, Facts, Apertures);
  StartVerdicts({&Facts, &Apertures});
  StartHeaderCapture(*Table->BootServices);

  // The driver's own entry point: the same reads and report lines, on tables that annotate them.
  static constinit AnnotatingTables Tables = {};
  DriverEntry(Image, AnnotatingSystemTable(*Table, Tables));
  EndAnnotation();
  // The image's own lines go to the console as they are.
  SystemTable = Table;
  BootServices = Table->BootServices;

  PrintCountLine(RecordedSurveyCounts(), RebarFunctionCount);
  WriteSummaryTable(QueryConsoleSize(Table->ConOut).Columns);
  EndHeaderCapture(*Table->BootServices);
  PagerFlush();
  if (Saving) {
    StopReportCapture();
    ShowSaveResult(SaveReportFile(Capture, Facts, Target), Target);
    FreeReportCapture(Capture);
  }
  if (Mode.After == AfterReport::WaitForKey && WaitForKey(Table->ConIn) == WaitEnd::KeyPressed) {
    return StatusAfterReport(Mode);
  }
  // Without a keyboard a wait falls back to the usual countdown, which ends by itself.
  const UINT32 Seconds =
      Mode.After == AfterReport::Countdown ? Mode.CountdownSeconds : BOOT_COUNTDOWN_SECONDS;
  if (Seconds > 0) {
    RunCountdown(Seconds, Table->ConIn);
  }
  return StatusAfterReport(Mode);
}
