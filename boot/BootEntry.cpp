// The boot image's entry point: the driver's survey, unchanged, annotated on the console, then
// the count line and the wait for a key or the countdown.
#include "boot/BootEntry.h"

#include "boot/AnnotatedConsole.h"
#include "boot/BootCountdown.h"
#include "boot/BootMode.h"
#include "boot/BootStatus.h"
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

  // The driver's own entry point: the same reads and report lines, on tables that annotate them.
  static constinit AnnotatingTables Tables = {};
  DriverEntry(Image, AnnotatingSystemTable(*Table, Tables));
  // The image's own lines go to the console as they are.
  SystemTable = Table;
  BootServices = Table->BootServices;

  PrintRebarFunctionCount(RebarFunctionCount);
  const BootMode Mode = ChooseBootMode(Image);
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
