// The boot image's countdown: a line rewritten every second until the time runs out or a key is
// pressed, so that the report stays on the screen for a while before the boot goes on.
#pragma once

#include "firmware/SimpleTextInput.h"
#include "firmware/UefiBase.h"

// Seconds the countdown runs when no key is pressed.
inline constexpr UINT32 BOOT_COUNTDOWN_SECONDS = 5;
// Looks at the keyboard per second of countdown, and the stall between two looks (100 ms).
inline constexpr UINT32 KEY_POLLS_PER_SECOND = 10;
inline constexpr UINTN KEY_POLL_MICROSECONDS = 1000000 / KEY_POLLS_PER_SECOND;
// Most keystrokes discarded before the countdown: a keyboard that never runs dry cannot hold
// the boot.
inline constexpr UINT32 PENDING_KEYS_LIMIT = 64;

// How a countdown ended.
enum class CountdownEnd : UINT32 {
  TimeRanOut,
  KeyPressed,
};

// How a wait for a key ended.
enum class WaitEnd : UINT32 {
  KeyPressed,
  // There is no keyboard, or it failed: nothing could end the wait.
  NoKeyboard,
};

// Takes one waiting keystroke from Input (null: no keyboard). True when there was one.
bool TakeKey(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input);

// Discards the keystrokes already waiting on Input, at most PENDING_KEYS_LIMIT; returns how
// many were discarded.
UINT32 DiscardPendingKeys(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input);

// Shows "Boot continues in N s" from Seconds down to 1 on one line, rewritten each second,
// looking at Input every KEY_POLL_MICROSECONDS; ends the line and returns at the first keystroke
// or once the time has run out. Stalls through the recorded boot services; the watchdog is
// disarmed first.
CountdownEnd RunCountdown(UINT32 Seconds, EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input);

// Disarms the firmware's watchdog, which the boot manager arms for five minutes before it
// starts a boot option: a machine waiting for a person must not be reset under them.
void DisarmWatchdog();

// Waits for a keystroke on Input, looking every KEY_POLL_MICROSECONDS, with the watchdog
// disarmed. Returns NoKeyboard at once when Input is null, and as soon as it fails.
WaitEnd AwaitKeystroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input);

// Shows "Press any key to continue booting." and waits for a keystroke on Input, looking every
// KEY_POLL_MICROSECONDS. Returns NoKeyboard at once, without the line, when Input is null or
// fails, and as soon as it fails later.
WaitEnd WaitForKey(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input);
