// The countdown and the keyboard: polled with a stall between looks, so that the only firmware
// calls are ReadKeyStroke, Stall and the console print.
#include "boot/BootCountdown.h"

#include "driver/DriverGlobals.h"
#include "print/ConsolePrint.h"

namespace {

// What one look at the keyboard found.
enum class KeyLook : UINT32 {
  Key,
  NoKey,
  Failed,
};

// Which key it was does not matter. EFI_NOT_READY means none is waiting; any other status but
// success comes from a keyboard that failed (or none at all).
KeyLook LookForKey(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input) {
  if (Input == nullptr) {
    return KeyLook::Failed;
  }
  EFI_INPUT_KEY Key = {0, 0};
  const EFI_STATUS Status = Input->ReadKeyStroke(Input, &Key);
  if (Status == EFI_SUCCESS) {
    return KeyLook::Key;
  }
  return Status == EFI_NOT_READY ? KeyLook::NoKey : KeyLook::Failed;
}

constexpr UINT32 DECIMAL_BASE = 10;

// Decimal digits of Value, at least one.
UINT32 DecimalDigits(UINT32 Value) {
  UINT32 Digits = 1;
  for (; Value >= DECIMAL_BASE; Value /= DECIMAL_BASE) {
    ++Digits;
  }
  return Digits;
}

} // namespace

bool TakeKey(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input) {
  return LookForKey(Input) == KeyLook::Key;
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

void DisarmWatchdog() {
  if (BootServices->SetWatchdogTimer != nullptr) {
    BootServices->SetWatchdogTimer(0, 0, 0, nullptr);
  }
}

WaitEnd AwaitKeystroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input) {
  DisarmWatchdog();
  KeyLook Look = Input == nullptr ? KeyLook::Failed : KeyLook::NoKey;
  while (Look == KeyLook::NoKey) {
    BootServices->Stall(KEY_POLL_MICROSECONDS);
    Look = LookForKey(Input);
  }
  return Look == KeyLook::Key ? WaitEnd::KeyPressed : WaitEnd::NoKeyboard;
}

CountdownEnd RunCountdown(UINT32 Seconds, EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input) {
  DisarmWatchdog();
  CountdownEnd End = CountdownEnd::TimeRanOut;
  const UINT32 Width = DecimalDigits(Seconds);
  for (UINT32 Remaining = Seconds; Remaining > 0 && End == CountdownEnd::TimeRanOut; --Remaining) {
    // The carriage return rewrites the same line; the number keeps the width of the first, so
    // that a shorter one leaves nothing behind.
    Print(u"\rBoot continues in %*u s; press any key to continue now.", Width, Remaining);
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

WaitEnd WaitForKey(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input) {
  // A key that came during the report was not pressed in answer to the line.
  if (LookForKey(Input) == KeyLook::Failed) {
    return WaitEnd::NoKeyboard;
  }
  Print(u"Press any key to continue booting.");
  const WaitEnd End = AwaitKeystroke(Input);
  Print(u"\n");
  return End;
}
