// The boot image on the hosted platform, with a scripted keyboard and a clock that only stalls
// move: the countdown's ticks, its end by time or by key, the keys discarded before it, and the
// survey's reads and report, which must be the driver's own.
#include <deque>
#include <regex>

#include "boot/BootCountdown.h"
#include "boot/BootEntry.h"
#include "boot/BootStatus.h"
#include "boot/ReportOutput.h"
#include "driver/DriverGlobals.h"
#include "firmware/LoadedImage.h"
#include "generated/RbarVersion.h"
#include "tests/host/HostTestSupport.h"
#include "tests/host/ScanMachines.h"

namespace {

// A keyboard whose keystrokes arrive at given times of a clock that only Stall advances.
struct ScriptedKeyboard {
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL Protocol{};
  // Keystrokes already waiting when the image starts.
  uint32_t Waiting = 0;
  // Times (microseconds) at which one more keystroke arrives.
  std::deque<uint64_t> Arrivals;
  // Every read hands a keystroke; or every read fails.
  bool Endless = false;
  bool Broken = false;
  uint64_t Now = 0;
  uint64_t Stalls = 0;
  uint64_t Reads = 0;
  // SetWatchdogTimer calls that disarmed the watchdog, and those that did anything else.
  uint64_t Disarms = 0;
  uint64_t OtherWatchdogCalls = 0;
};

ScriptedKeyboard *ActiveKeyboard = nullptr;

EFI_STATUS EFIAPI ScriptedReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, EFI_INPUT_KEY *Key) {
  ScriptedKeyboard &Keyboard = *reinterpret_cast<ScriptedKeyboard *>(This);
  ++Keyboard.Reads;
  if (Keyboard.Broken) {
    return EFI_DEVICE_ERROR;
  }
  while (!Keyboard.Arrivals.empty() && Keyboard.Arrivals.front() <= Keyboard.Now) {
    Keyboard.Arrivals.pop_front();
    ++Keyboard.Waiting;
  }
  if (!Keyboard.Endless && Keyboard.Waiting == 0) {
    return EFI_NOT_READY;
  }
  Keyboard.Waiting -= Keyboard.Endless ? 0 : 1;
  *Key = {0, u' '};
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ScriptedStall(UINTN Microseconds) {
  ActiveKeyboard->Now += Microseconds;
  ++ActiveKeyboard->Stalls;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ScriptedSetWatchdogTimer(UINTN Timeout, UINT64, UINTN DataSize,
                                           const CHAR16 *Data) {
  const bool Disarm = Timeout == 0 && DataSize == 0 && Data == nullptr;
  ++(Disarm ? ActiveKeyboard->Disarms : ActiveKeyboard->OtherWatchdogCalls);
  return EFI_SUCCESS;
}

// A firmware without a compatibility support module.
EFI_STATUS EFIAPI NoProtocolFound(const EFI_GUID *, void *, void **) {
  return EFI_NOT_FOUND;
}

// Puts Keyboard (or no keyboard), its clock and the watchdog into Platform's tables.
void Attach(HostPlatform &Platform, ScriptedKeyboard &Keyboard, bool WithKeyboard = true) {
  static_assert(offsetof(ScriptedKeyboard, Protocol) == 0);
  Keyboard.Protocol.ReadKeyStroke = ScriptedReadKeyStroke;
  ActiveKeyboard = &Keyboard;
  ActiveHostPlatform = &Platform;
  Platform.BootServices.Stall = ScriptedStall;
  Platform.BootServices.SetWatchdogTimer = ScriptedSetWatchdogTimer;
  Platform.BootServices.LocateProtocol = NoProtocolFound;
  Platform.SystemTable.ConIn = WithKeyboard ? &Keyboard.Protocol : nullptr;
}

// The count line of a survey that found nothing.
const std::string EMPTY_COUNT_LINE = std::string("rbar-survey ") + RBAR_VERSION +
                                     ": 0 root bridges, 0 functions scanned, 0 with Resizable "
                                     "BAR\r\n";

// What the console shows after the facts block (up to its empty line).
std::string AfterFacts(const std::string &Console) {
  const std::string Start =
      std::string("rbar-survey ") + RBAR_VERSION + ", before the operating system\r\n";
  const size_t End = Console.find("\r\n\r\n");
  EXPECT_TRUE(Console.starts_with(Start)) << Console;
  EXPECT_NE(End, std::string::npos) << Console;
  return End == std::string::npos ? Console : Console.substr(End + 4);
}

// The seconds shown by the countdown, in order.
std::vector<uint32_t> Ticks(const std::string &Console) {
  static const std::regex Tick("\rBoot continues in ([0-9]+) s; press any key to continue now\\.");
  std::vector<uint32_t> Shown;
  for (auto It = std::sregex_iterator(Console.begin(), Console.end(), Tick);
       It != std::sregex_iterator(); ++It) {
    Shown.push_back(static_cast<uint32_t>(std::stoul((*It)[1])));
  }
  return Shown;
}

constexpr uint64_t SECOND = 1000000;
// Dwords of the header read of each present function.
constexpr size_t HEADER_DWORDS = 16;
constexpr uint64_t POLL = KEY_POLL_MICROSECONDS;
const std::vector<uint32_t> FULL_COUNTDOWN = {5, 4, 3, 2, 1};

struct CountdownRow {
  const char *Name;
  // When keystrokes arrive, and how many wait before the image starts.
  std::deque<uint64_t> Arrivals;
  uint32_t Waiting;
  // The keyboard hands a key at every read, fails every read, or is not there.
  bool Endless;
  bool Broken;
  bool WithKeyboard;
  std::vector<uint32_t> Ticks;
  // Clock time when the image returns: how long it held the boot.
  uint64_t Held;
};

const CountdownRow COUNTDOWN_ROWS[] = {
    {"no key: runs out", {}, 0, false, false, true, FULL_COUNTDOWN, 5 * SECOND},
    {"key in the first poll", {POLL / 2}, 0, false, false, true, {5}, POLL},
    {"key in the third second",
     {2 * SECOND + POLL / 2},
     0,
     false,
     false,
     true,
     {5, 4, 3},
     2 * SECOND + POLL},
    {"key in the last poll",
     {5 * SECOND - POLL / 2},
     0,
     false,
     false,
     true,
     FULL_COUNTDOWN,
     5 * SECOND},
    {"key just too late", {5 * SECOND + 1}, 0, false, false, true, FULL_COUNTDOWN, 5 * SECOND},
    {"keys waiting before: discarded", {}, 3, false, false, true, FULL_COUNTDOWN, 5 * SECOND},
    {"endless keyboard: bounded discard", {}, 0, true, false, true, {5}, POLL},
    {"broken keyboard", {POLL}, 0, false, true, true, FULL_COUNTDOWN, 5 * SECOND},
    {"no keyboard", {POLL}, 0, false, false, false, FULL_COUNTDOWN, 5 * SECOND},
};

TEST(BootCountdownTest, TicksEndAndTimeHeldOnEachKeyboard) {
  for (const CountdownRow &Row : COUNTDOWN_ROWS) {
    SCOPED_TRACE(Row.Name);
    HostPlatform Platform;
    ScriptedKeyboard Keyboard;
    Keyboard.Waiting = Row.Waiting;
    Keyboard.Arrivals = Row.Arrivals;
    Keyboard.Endless = Row.Endless;
    Keyboard.Broken = Row.Broken;
    Attach(Platform, Keyboard, Row.WithKeyboard);

    EXPECT_EQ(BootEntry(Platform.ImageHandle, &Platform.SystemTable), BOOT_OPTION_GO_ON_STATUS);
    const std::string Console = Platform.ConsoleText();
    EXPECT_EQ(Ticks(Console), Row.Ticks);
    EXPECT_EQ(Keyboard.Now, Row.Held);
    // After the facts, one line: the count, then the countdown line, ended once; the watchdog
    // disarmed before the countdown and never armed.
    EXPECT_TRUE(AfterFacts(Console).starts_with(EMPTY_COUNT_LINE)) << Console;
    EXPECT_TRUE(Console.ends_with("continue now.\r\n")) << Console;
    EXPECT_GE(Keyboard.Disarms, 1U);
    EXPECT_EQ(Keyboard.OtherWatchdogCalls, 0U);
    if (Row.Endless) {
      EXPECT_EQ(Keyboard.Reads, PENDING_KEYS_LIMIT + 1);
    }
    if (!Row.WithKeyboard || Row.Broken) {
      EXPECT_EQ(Keyboard.Reads, Row.Broken ? 1 + Keyboard.Stalls : 0);
    }
    EXPECT_TRUE(Platform.Check().empty());
  }
}

// On a 20-device machine the boot image makes exactly the driver's reads and prints exactly the
// driver's report lines, annotated, followed by its own lines.
TEST(BootCountdownTest, SurveyIsTheDriversOwn) {
  const ScanMachine Machine = TwentyDeviceMachine();
  HostPlatform Driver;
  HostRootBridge &DriverBridge =
      Driver.AddRootBridge(BuildImage(Machine), BusDescriptor(0, Machine.MaxBus));
  ASSERT_EQ(Driver.RunDriverEntry(), EFI_SUCCESS);
  const std::string Report = Driver.ConsoleText();
  ASSERT_FALSE(Report.empty());

  HostPlatform Boot;
  HostRootBridge &BootBridge =
      Boot.AddRootBridge(BuildImage(Machine), BusDescriptor(0, Machine.MaxBus));
  // A key 1 us in: the countdown ends at its first poll.
  ScriptedKeyboard Keyboard;
  Keyboard.Arrivals = {1};
  Attach(Boot, Keyboard);
  EXPECT_EQ(BootEntry(Boot.ImageHandle, &Boot.SystemTable), BOOT_OPTION_GO_ON_STATUS);

  // The driver's reads are all there, in its order; beside them, the header of each present
  // function (dwords 0x00 to 0x3C, read once for the verdicts) and the Resizable BAR entries of
  // each function with a report (for the notes), all 32-bit reads.
  size_t Headers = 0;
  size_t Next = 0;
  for (size_t Index = 0; Index < BootBridge.Reads.size(); ++Index) {
    const auto &Read = BootBridge.Reads[Index];
    if (Next < DriverBridge.Reads.size() && Read.Address == DriverBridge.Reads[Next].Address &&
        Read.Width == DriverBridge.Reads[Next].Width) {
      ++Next;
      continue;
    }
    EXPECT_EQ(Read.Width, EfiPciWidthUint32) << Index;
    bool Header = Index + HEADER_DWORDS <= BootBridge.Reads.size();
    for (size_t Dword = 0; Header && Dword < HEADER_DWORDS; ++Dword) {
      Header =
          BootBridge.Reads[Index + Dword].Address == (Read.Address & ~UINT64{0xFF}) + 4 * Dword;
    }
    if (Header) {
      ++Headers;
      Index += HEADER_DWORDS - 1;
    }
  }
  EXPECT_EQ(Next, DriverBridge.Reads.size());
  const size_t Functions = BuildImage(Machine).size();
  EXPECT_EQ(Headers, Functions);
  // Less the facts and the annotation's lines (function headers, sizes in words, verdicts), the
  // console is the report, then the count line, the summary (a row for each BAR line) and the
  // countdown.
  static const std::regex Annotation("[0-9a-f]{4}:[0-9a-f]{2}:[0-9a-f]{2}\\.[0-7] "
                                     "[0-9a-f]{4}:[0-9a-f]{4}\r\n|  [^\r]* -> [^\r]*\r\n|"
                                     "  (?:verdict|BAR [0-5]): [^\r]*\r\n(?:    [^\r]*\r\n)*");
  const std::string Shown = std::regex_replace(AfterFacts(Boot.ConsoleText()), Annotation, "");
  const std::string CountLine = std::string("rbar-survey ") + RBAR_VERSION + ": 1 root bridge, " +
                                std::to_string(Functions) +
                                " functions scanned, 4 with Resizable BAR\r\n";
  ASSERT_TRUE(Shown.starts_with(Report + CountLine + "Summary: ")) << Shown;
  static const std::regex SummaryRow("\r\n0000:[0-9a-f]{2}:[0-9a-f]{2}\\.[0-7] [0-9a-f]{4}:"
                                     "[0-9a-f]{4} BAR [0-5] +[^\r]* -> [^\r]* [a-z0-9-]+");
  const std::string Table = Shown.substr(Report.size() + CountLine.size());
  static const std::regex BarLine("(^|\n)BAR [0-5] RBAR CURRENT");
  EXPECT_EQ(std::distance(std::sregex_iterator(Table.begin(), Table.end(), SummaryRow),
                          std::sregex_iterator()),
            std::distance(std::sregex_iterator(Report.begin(), Report.end(), BarLine),
                          std::sregex_iterator()))
      << Table;
  EXPECT_TRUE(Shown.ends_with("\r\n\rBoot continues in 5 s; press any key to continue now.\r\n"))
      << Shown;
  EXPECT_TRUE(Driver.Check().empty());
  EXPECT_TRUE(Boot.Check().empty());
}

// The count line: the version, then each count with its noun, singular for one.
TEST(BootCountdownTest, CountLineAgreesWithItsNumbers) {
  struct Row {
    SurveyCounts Counts;
    UINT32 Rebar;
    const char *Line;
  };
  const Row Rows[] = {
      {{0, 0}, 0, ": 0 root bridges, 0 functions scanned, 0 with Resizable BAR\r\n"},
      {{1, 1}, 1, ": 1 root bridge, 1 function scanned, 1 with Resizable BAR\r\n"},
      {{2, 40}, 19, ": 2 root bridges, 40 functions scanned, 19 with Resizable BAR\r\n"},
      // Wider than the console: broken at the space before the last word that fits.
      {{1, 4294967295U},
       4294967295U,
       ": 1 root bridge, 4294967295 functions scanned, 4294967295 with\r\n    Resizable BAR\r\n"},
  };
  for (const Row &Case : Rows) {
    HostPlatform Platform;
    ActiveHostPlatform = &Platform;
    SystemTable = &Platform.SystemTable;
    BootServices = &Platform.BootServices;
    StartReportOutput(&Platform.Console, nullptr, false);
    PrintCountLine(Case.Counts, Case.Rebar);
    EXPECT_EQ(Platform.ConsoleText(), std::string("rbar-survey ") + RBAR_VERSION + Case.Line);
  }
  SystemTable = nullptr;
  BootServices = nullptr;
}

} // namespace

namespace {

// The load options "wait" on the image's handle, as the firmware's loaded image protocol gives
// them; the host platform's other protocols as they are.
EFI_LOADED_IMAGE_PROTOCOL WaitImage{};
EFI_HANDLE_PROTOCOL PlatformHandleProtocol = nullptr;

EFI_STATUS EFIAPI HandleProtocolWithWaitImage(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                              void **Interface) {
  if (GuidsEqual(*Protocol, EFI_LOADED_IMAGE_PROTOCOL_GUID)) {
    *Interface = &WaitImage;
    return EFI_SUCCESS;
  }
  return PlatformHandleProtocol(Handle, Protocol, Interface);
}

struct WaitRow {
  const char *Name;
  std::deque<uint64_t> Arrivals;
  bool Broken;
  bool WithKeyboard;
  // What follows the count line, and the clock time when the image returns.
  std::string Tail;
  uint64_t Held;
};

const std::string FALLBACK_COUNTDOWN =
    "\rBoot continues in 5 s; press any key to continue now."
    "\rBoot continues in 4 s; press any key to continue now."
    "\rBoot continues in 3 s; press any key to continue now."
    "\rBoot continues in 2 s; press any key to continue now."
    "\rBoot continues in 1 s; press any key to continue now.\r\n";

const WaitRow WAIT_ROWS[] = {
    {"key after a minute",
     {60 * SECOND + POLL / 2},
     false,
     true,
     "Press any key to continue booting.\r\n",
     60 * SECOND + POLL},
    {"no keyboard: countdown", {}, false, false, FALLBACK_COUNTDOWN, 5 * SECOND},
    {"broken keyboard: countdown", {}, true, true, FALLBACK_COUNTDOWN, 5 * SECOND},
};

TEST(BootWaitTest, WaitsForAKeyOrFallsBackToTheCountdown) {
  static const std::u16string Options = u"wait";
  WaitImage.LoadOptions = Options.data();
  WaitImage.LoadOptionsSize = static_cast<UINT32>(Options.size() * sizeof(char16_t));
  for (const WaitRow &Row : WAIT_ROWS) {
    SCOPED_TRACE(Row.Name);
    HostPlatform Platform;
    ScriptedKeyboard Keyboard;
    Keyboard.Arrivals = Row.Arrivals;
    Keyboard.Broken = Row.Broken;
    Attach(Platform, Keyboard, Row.WithKeyboard);
    PlatformHandleProtocol = Platform.BootServices.HandleProtocol;
    Platform.BootServices.HandleProtocol = HandleProtocolWithWaitImage;

    EXPECT_EQ(BootEntry(Platform.ImageHandle, &Platform.SystemTable), BOOT_OPTION_GO_ON_STATUS);
    EXPECT_EQ(AfterFacts(Platform.ConsoleText()), EMPTY_COUNT_LINE + Row.Tail);
    EXPECT_EQ(Keyboard.Now, Row.Held);
    // A minute's wait outlasts no watchdog: it was disarmed before it, and never armed.
    EXPECT_GE(Keyboard.Disarms, 1U);
    EXPECT_EQ(Keyboard.OtherWatchdogCalls, 0U);
  }
}

} // namespace
