// The boot image's entry point: the driver's survey, unchanged, then the count line and the
// countdown.
#include "boot/BootEntry.h"

#include "boot/BootCountdown.h"
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

  // The driver's own entry point: the same globals, reads and report lines.
  DriverEntry(Image, Table);

  PrintRebarFunctionCount(RebarFunctionCount);
  RunCountdown(BOOT_COUNTDOWN_SECONDS, Table->ConIn);
  return BOOT_OPTION_GO_ON_STATUS;
}
