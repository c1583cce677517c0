// Console print: one pool buffer per call, rendered by the format engine, written to a text
// output protocol and given back before the call returns.
#include "print/ConsolePrint.h"

#include "driver/DriverGlobals.h"
#include "print/FormatEngine.h"

// One call per printed line: every function of this file is built for size.
#pragma clang attribute push(__attribute__((minsize)), apply_to = function)

CHAR16 *AllocatePrintBuffer() {
  void *Buffer = nullptr;
  const EFI_STATUS Status =
      BootServices->AllocatePool(EfiBootServicesData, PRINT_BUFFER_CHARS * sizeof(CHAR16), &Buffer);
  // A warning still delivers the buffer.
  if (EfiIsError(Status)) {
    return nullptr;
  }
  return static_cast<CHAR16 *>(Buffer);
}

UINT64 PrintToConsole(const CHAR16 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                      const ArgumentSlot *Arguments) {
  CHAR16 *Buffer = AllocatePrintBuffer();
  if (Buffer == nullptr) {
    return 0;
  }

  UINT64 Count =
      FormatCore(Buffer, PRINT_BUFFER_CHARS, WIDE_FORMAT | WIDE_OUTPUT, Format, Arguments);
  if (Console != nullptr && Count != 0 && EfiIsError(Console->OutputString(Console, Buffer))) {
    Count = 0;
  }

  BootServices->FreePool(Buffer);
  return Count;
}

UINT64 PrintSlots(const CHAR16 *Format, const ArgumentSlot *Arguments) {
  return PrintToConsole(Format, SystemTable->ConOut, Arguments);
}

#pragma clang attribute pop
