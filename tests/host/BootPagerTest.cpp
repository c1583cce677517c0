// The pager over a console of a given size and a scripted keyboard: where it pauses, that every
// line is shown exactly once, and where it breaks a line too long for the width.
#include <string>
#include <vector>

#include "boot/ConsolePager.h"
#include "driver/DriverGlobals.h"
#include "tests/host/HostTestSupport.h"

namespace {

// A console of Columns x Rows that keeps what it was sent, and a keyboard with Keys keystrokes
// to hand out (then none: EFI_NOT_READY, or a failure).
struct SizedConsole {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Protocol{};
  SIMPLE_TEXT_OUTPUT_MODE Mode{};
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL Keyboard{};
  UINTN Columns = 0;
  UINTN Rows = 0;
  std::string Text;
  int Keys = 0;
  bool FailsWhenOut = false;
  int Stalls = 0;
};
SizedConsole *Active = nullptr;

EFI_STATUS EFIAPI SizedOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  for (; *String != u'\0'; ++String) {
    Active->Text += static_cast<char>(*String);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SizedQueryMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN Mode, UINTN *Columns,
                                 UINTN *Rows) {
  if (Mode != static_cast<UINTN>(Active->Mode.Mode)) {
    return EFI_UNSUPPORTED;
  }
  *Columns = Active->Columns;
  *Rows = Active->Rows;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ScriptedKey(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, EFI_INPUT_KEY *Key) {
  if (Active->Keys == 0) {
    return Active->FailsWhenOut ? EFI_DEVICE_ERROR : EFI_NOT_READY;
  }
  --Active->Keys;
  *Key = {0, u' '};
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CountedStall(UINTN) {
  // A keyboard that never answers would hold the test: a key comes after 100 looks.
  if (++Active->Stalls % 100 == 0 && !Active->FailsWhenOut) {
    ++Active->Keys;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI IgnoredWatchdog(UINTN, UINT64, UINTN, const CHAR16 *) {
  return EFI_SUCCESS;
}

const std::string PROMPT_SHOWN = "-- more: any key --\r                   \r";

// Numbered lines "line 1" .. "line Count", each ended by LF.
std::string NumberedLines(int Count) {
  std::string Text;
  for (int Line = 1; Line <= Count; ++Line) {
    Text += "line " + std::to_string(Line) + "\n";
  }
  return Text;
}

struct PagerRow {
  const char *Name;
  UINTN Columns;
  UINTN Rows;
  bool Paging;
  bool WithKeyboard;
  bool FailsWhenOut;
  std::string Text;
  // What the console shows, prompts written as PROMPT_SHOWN; and the pauses made.
  std::string Shown;
  UINTN Pauses;
};

// "line 1\r\n" .. for lines First to Last.
std::string Shown(int First, int Last) {
  std::string Text;
  for (int Line = First; Line <= Last; ++Line) {
    Text += "line " + std::to_string(Line) + "\r\n";
  }
  return Text;
}

const std::string LONG_LINE = "  verdict: the prefetchable memory window of bridge 0000:00:01.1 "
                              "is too small: 3 GB, holding no 8 GB-aligned block of 8 GB\n";

const PagerRow PAGER_ROWS[] = {
    {"fits one page", 80, 25, true, true, false, NumberedLines(24), Shown(1, 24), 0},
    {"wait mode: a pause before each row past a full page", 80, 5, true, true, false,
     NumberedLines(10), Shown(1, 4) + PROMPT_SHOWN + Shown(5, 8) + PROMPT_SHOWN + Shown(9, 10), 2},
    {"countdown mode never pauses", 80, 5, false, true, false, NumberedLines(10), Shown(1, 10), 0},
    {"no keyboard: nothing could end a pause", 80, 5, true, false, false, NumberedLines(10),
     Shown(1, 10), 0},
    {"keyboard fails at the first pause: no more pauses", 80, 5, true, true, true,
     NumberedLines(10), Shown(1, 4) + PROMPT_SHOWN + Shown(5, 10), 1},
    {"a console too small is taken as 40 x 4", 10, 2, true, true, false, NumberedLines(4),
     Shown(1, 3) + PROMPT_SHOWN + Shown(4, 4), 1},
    {"a long line breaks at spaces, never in a number", 40, 25, true, true, false, LONG_LINE,
     "  verdict: the prefetchable memory\r\n    window of bridge 0000:00:01.1 is\r\n"
     "    too small: 3 GB, holding no 8\r\n    GB-aligned block of 8 GB\r\n",
     0},
    {"a word wider than the console is cut at the width", 40, 25, false, true, false,
     std::string(45, 'x') + "\n", std::string(39, 'x') + "\r\n    " + std::string(6, 'x') + "\r\n",
     0},
    {"CR LF and pieces of a line make one line", 80, 25, true, true, false, "a\r\nb", "a\r\nb", 0},
};

TEST(BootPagerTest, PausesAndBreaksOnEachConsole) {
  for (const PagerRow &Row : PAGER_ROWS) {
    SCOPED_TRACE(Row.Name);
    HostPlatform Platform;
    ActiveHostPlatform = &Platform;
    Platform.BootServices.Stall = CountedStall;
    Platform.BootServices.SetWatchdogTimer = IgnoredWatchdog;
    BootServices = &Platform.BootServices;
    SizedConsole Console;
    Active = &Console;
    Console.Protocol.OutputString = SizedOutputString;
    Console.Protocol.QueryMode = SizedQueryMode;
    Console.Protocol.Mode = &Console.Mode;
    Console.Mode.Mode = 2;
    Console.Keyboard.ReadKeyStroke = ScriptedKey;
    Console.Columns = Row.Columns;
    Console.Rows = Row.Rows;
    Console.FailsWhenOut = Row.FailsWhenOut;

    StartPager(&Console.Protocol, Row.WithKeyboard ? &Console.Keyboard : nullptr, Row.Paging);
    std::u16string Wide(Row.Text.begin(), Row.Text.end());
    PagerWrite(Wide.c_str());
    PagerFlush();
    EXPECT_EQ(Console.Text, Row.Shown);
    EXPECT_EQ(PagerPauses(), Row.Pauses);
  }
  BootServices = nullptr;
}

} // namespace
