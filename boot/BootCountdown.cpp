// The countdown and the keyboard: polled with a stall between looks, so that the only firmware
// calls are ReadKeyStroke, Stall and the console print.
#include "boot/BootCountdown.h"

#include "driver/DriverGlobals.h"
#include "print/ConsolePrint.h"

bool TakeKey(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input) {
  if (Input == nullptr) {
    return false;
  }
  // Which key it was does not matter; any status but success means no key (EFI_NOT_READY when
  // none is waiting, an error from a keyboard that failed).
  EFI_INPUT_KEY Key = {0, 0};
  return Input->ReadKeyStroke(Input, &Key) == EFI_SUCCESS;
}

UINT32 DiscardPendingKeys(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input) {
  UINT32 Discarded = 0;
  while (Discarded < PENDING_KEYS_LIMIT && TakeKey(Input)) {
    ++Discarded;
  }
  return Discarded;
}

// Stalls one poll interval, then takes a keystroke if one came. True when one did.
static bool PollKeyAfterStall(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input) {
  // A stall that fails returns early: the countdown runs faster, never longer.
  BootServices->Stall(KEY_POLL_MICROSECONDS);
  return TakeKey(Input);
}

CountdownEnd RunCountdown(UINT32 Seconds, EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input) {
  CountdownEnd End = CountdownEnd::TimeRanOut;
  for (UINT32 Remaining = Seconds; Remaining > 0 && End == CountdownEnd::TimeRanOut; --Remaining) {
    // The carriage return rewrites the same line; the width never changes below 10 s.
    Print(u"\rBoot continues in %u s; press any key to continue now.", Remaining);
    for (UINT32 Poll = 0; Poll < KEY_POLLS_PER_SECOND; ++Poll) {
      if (PollKeyAfterStall(Input)) {
        End = CountdownEnd::KeyPressed;
        break;
      }
    }
  }
  Print(u"\n");
  return End;
}
