// The image's entry point: records what the firmware handed over and runs the survey.
#include "driver/DriverEntry.h"

#include "driver/DriverGlobals.h"
#include "driver/ScanRootBridges.h"

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table) {
  BootServices = Table->BootServices;
  RuntimeServices = Table->RuntimeServices;
  ImageHandle = Image;
  SystemTable = Table;
  SizeIndexCeiling = SIZE_INDEX_NO_CEILING;
  RebarFunctionCount = 0;

  ScanRootBridges();

  // The survey only reports: nothing it finds or fails to do makes loading fail.
  return EFI_SUCCESS;
}
