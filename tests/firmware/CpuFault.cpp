// Entry point of a test image that faults at once (the trap instruction of either
// processor), so that the firmware tests can check that the runner recognises each firmware's
// fault report and stops the machine, instead of waiting for its time limit.
#include "firmware/SystemTable.h"

// Traps before touching anything; it never returns.
extern "C" EFI_STATUS EFIAPI CpuFaultEntry(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  __builtin_trap();
}
