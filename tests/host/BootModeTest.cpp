// The boot image's choices from how it was started, and its annotated report: load options as
// firmware, shells and boot loaders hand them over (text, binary, odd sizes, unaligned), device
// paths of the removable-media path and others, and the annotated console of the tool's own
// dump fixtures, which must read exactly like rbar-survey --annotate.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "boot/BootEntry.h"
#include "boot/BootMode.h"
#include "boot/BootStatus.h"
#include "driver/DriverGlobals.h"
#include "tests/host/HostTestSupport.h"

namespace {

constexpr BootMode WAIT = {AfterReport::WaitForKey, 5};
constexpr BootMode COUNTDOWN_5 = {AfterReport::Countdown, 5};

// Text as UCS-2 bytes, least significant first, with Extra bytes after it (a NUL, a stray byte).
std::vector<uint8_t> Ucs2(const std::string &Text, std::vector<uint8_t> Extra = {}) {
  std::vector<uint8_t> Bytes;
  for (const char Character : Text) {
    Bytes.push_back(static_cast<uint8_t>(Character));
    Bytes.push_back(0);
  }
  Bytes.insert(Bytes.end(), Extra.begin(), Extra.end());
  return Bytes;
}

const std::string LONG_WORD(50, 'x');

struct OptionsRow {
  const char *Name;
  std::vector<uint8_t> Bytes;
  BootMode Default;
  BootMode Chosen;
  // What the console shows about words not understood.
  std::string Console;
};

const OptionsRow OPTIONS_ROWS[] = {
    {"none", {}, COUNTDOWN_5, COUNTDOWN_5, ""},
    {"wait", Ucs2("wait"), COUNTDOWN_5, WAIT, ""},
    {"any case, NUL ended", Ucs2("WAIT", {0, 0}), COUNTDOWN_5, WAIT, ""},
    {"countdown=0", Ucs2("countdown=0"), WAIT, {AfterReport::Countdown, 0}, ""},
    {"longest countdown", Ucs2("countdown=3600"), WAIT, {AfterReport::Countdown, 3600}, ""},
    {"last word wins", Ucs2("  wait\tcountdown=7 "), WAIT, {AfterReport::Countdown, 7}, ""},
    {"shell: own path first", Ucs2("fs0:\\RbarSurveyBoot.efi wait", {0, 0}), COUNTDOWN_5, WAIT, ""},
    {"GRUB: own path first",
     Ucs2("/EFI/rbar/RbarSurveyBoot.efi countdown=2"),
     WAIT,
     {AfterReport::Countdown, 2},
     ""},
    {"a path later is a word", Ucs2("wait x.efi"), COUNTDOWN_5, WAIT,
     "rbar-survey: load option \"x.efi\" not understood (wait, countdown=N, save, success), ignored\r\n"},
    {"unknown words named, known ones kept", Ucs2("bogus wait countdown=3601 countdown="),
     COUNTDOWN_5, WAIT,
     "rbar-survey: load option \"bogus\" not understood (wait, countdown=N, save, success), ignored\r\n"
     "rbar-survey: load option \"countdown=3601\" not understood (wait, countdown=N, save, success), ignored\r\n"
     "rbar-survey: load option \"countdown=\" not understood (wait, countdown=N, save, success), ignored\r\n"},
    {"long word cut", Ucs2(LONG_WORD), WAIT, WAIT,
     "rbar-survey: load option \"" + LONG_WORD.substr(0, OPTION_WORD_SHOWN_CHARS) +
         "...\" not understood (wait, countdown=N, save, success), ignored\r\n"},
    {"odd size: the stray byte is dropped", Ucs2("wait", {'x'}), COUNTDOWN_5, WAIT, ""},
    {"binary: a GUID",
     {0xA1, 0x31, 0x1B, 0x5B, 0x62, 0x95, 0xD2, 0x11, 0x8E, 0x3F, 0x00, 0xA0},
     WAIT,
     WAIT,
     ""},
    {"GRUB's entry: success",
     Ucs2("wait success", {0, 0}),
     COUNTDOWN_5,
     {AfterReport::WaitForKey, 5, true},
     ""},
    {"binary after text", Ucs2("wait", {0x01, 0x00}), COUNTDOWN_5, COUNTDOWN_5, ""},
    {"beyond the characters read", Ucs2(std::string(LOAD_OPTIONS_MAX_CHARS, ' ') + "wait"),
     COUNTDOWN_5, COUNTDOWN_5, ""},
};

TEST(BootModeTest, LoadOptionsChooseTheMode) {
  for (const OptionsRow &Row : OPTIONS_ROWS) {
    SCOPED_TRACE(Row.Name);
    HostPlatform Platform;
    ActiveHostPlatform = &Platform;
    SystemTable = &Platform.SystemTable;
    BootServices = &Platform.BootServices;
    // One byte in, so that the characters are not aligned; exactly the size given, so that an
    // overread shows under the sanitizers.
    std::vector<uint8_t> Buffer(Row.Bytes.size() + 1);
    std::copy(Row.Bytes.begin(), Row.Bytes.end(), Buffer.begin() + 1);
    const BootMode Mode = ParseLoadOptions(Row.Bytes.empty() ? nullptr : Buffer.data() + 1,
                                           static_cast<UINT32>(Row.Bytes.size()), Row.Default);
    EXPECT_EQ(Mode.After, Row.Chosen.After);
    EXPECT_EQ(Mode.CountdownSeconds, Row.Chosen.CountdownSeconds);
    EXPECT_EQ(StatusAfterReport(Mode), StatusAfterReport(Row.Chosen));
    EXPECT_EQ(Platform.ConsoleText(), Row.Console);
  }
  SystemTable = nullptr;
  BootServices = nullptr;
}

// A device path of file path nodes, each given as its text, then the end node.
std::vector<uint8_t> FilePath(const std::vector<std::string> &Nodes) {
  std::vector<uint8_t> Bytes;
  for (const std::string &Node : Nodes) {
    const std::vector<uint8_t> Text = Ucs2(Node, {0, 0});
    const size_t Length = sizeof(EFI_DEVICE_PATH_PROTOCOL) + Text.size();
    Bytes.insert(Bytes.end(), {MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, static_cast<uint8_t>(Length),
                               static_cast<uint8_t>(Length >> 8)});
    Bytes.insert(Bytes.end(), Text.begin(), Text.end());
  }
  Bytes.insert(Bytes.end(), {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, 0});
  return Bytes;
}

TEST(BootModeTest, RemovableMediaPathIsRecognised) {
  const std::pair<std::vector<uint8_t>, bool> Rows[] = {
      {FilePath({"\\EFI\\BOOT\\BOOTX64.EFI"}), true},
      {FilePath({"\\efi\\boot\\bootaa64.efi"}), true},
      {FilePath({"\\EFI", "BOOT", "\\BOOTX64.EFI"}), true},
      {FilePath({"\\RbarSurveyBoot.efi"}), false},
      {FilePath({"\\EFI\\rbar\\RbarSurveyBoot.efi"}), false},
      {FilePath({"\\EFI\\BOOT\\sub\\BOOTX64.EFI"}), false},
      {FilePath({"\\EFI\\BOOT\\BOOTX64.EFI.bak"}), false},
      {FilePath({"\\EFI\\BOOT\\" + std::string(FILE_PATH_MAX_CHARS, 'B') + ".EFI"}), false},
      // A node whose length is below its header ends the walk.
      {{MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, 2, 0}, false},
      {FilePath({}), false},
  };
  for (const auto &[Path, Removable] : Rows) {
    EXPECT_EQ(IsRemovableMediaPath(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Path.data())),
              Removable)
        << ::testing::PrintToString(Path);
  }
  EXPECT_FALSE(IsRemovableMediaPath(nullptr));
}

std::string ReadFile(const std::string &Path) {
  std::ifstream File(Path, std::ios::binary);
  std::stringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

EFI_STATUS EFIAPI NoKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, EFI_INPUT_KEY *) {
  return EFI_NOT_READY;
}
EFI_STATUS EFIAPI NoStall(UINTN) {
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI NoWatchdog(UINTN, UINT64, UINTN, const CHAR16 *) {
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI NoProtocol(const EFI_GUID *, void *, void **) {
  return EFI_NOT_FOUND;
}

// The lines of Text (LF or CR LF ended), with each row that carries on a line too long for the
// console (its indent of four spaces) joined back to it.
std::vector<std::string> ScreenLines(const std::string &Text) {
  std::vector<std::string> Lines;
  std::stringstream Stream(Text);
  for (std::string Line; std::getline(Stream, Line);) {
    if (!Line.empty() && Line.back() == '\r') {
      Line.pop_back();
    }
    if (Line.starts_with("    ") && !Lines.empty()) {
      Lines.back() += " " + Line.substr(4);
    } else {
      Lines.push_back(Line);
    }
  }
  return Lines;
}

// The words of a verdict line of the tool (given no firmware facts) that the boot image's line
// must start with: up to where the firmware's apertures come in, or the whole line.
std::string FirmwareFreeWords(const std::string &Line) {
  for (const char *Clause : {", where the host bridge's aperture decides", "in setup menus"}) {
    const size_t At = Line.find(Clause);
    if (At != std::string::npos) {
      return Line.substr(0, At + std::strlen(Clause));
    }
  }
  return Line;
}

// The boot image over the tool's dump fixtures (a root bridge per domain, as the tool builds
// them) annotates its report exactly as the tool's expected annotated output, with a verdict
// line after each BAR line's sizes in the words of the tool's explanation (up to what the
// firmware's apertures decide, which the tool's fixtures do not give); the reads it adds are
// the headers of the functions found.
TEST(BootModeTest, AnnotatedReportIsTheToolsOwn) {
  for (const char *Name : {"override-navi10", "two-domains", "vmd-domain", "multi-function-rebar",
                           "workstation", "no-rebar"}) {
    SCOPED_TRACE(Name);
    const std::string Base = std::string(RBAR_TOOL_FIXTURE_DIR) + "/" + Name;
    ConfigImage Image;
    std::string Error;
    ASSERT_TRUE(LoadConfigDump(Base + ".dump", Image, Error)) << Error;
    HostPlatform Driver;
    HostPlatform Boot;
    std::map<uint32_t, ConfigImage> Domains;
    for (const ConfigFunction &Function : Image) {
      Domains[Function.Segment].push_back(Function);
    }
    for (const auto &[Domain, Functions] : Domains) {
      uint8_t MaxBus = 0;
      for (const ConfigFunction &Function : Functions) {
        MaxBus = std::max(MaxBus, Function.Bus);
      }
      Driver.AddRootBridge(Functions, BusDescriptor(0, MaxBus), Domain);
      Boot.AddRootBridge(Functions, BusDescriptor(0, MaxBus), Domain);
    }
    ASSERT_EQ(Driver.RunDriverEntry(), EFI_SUCCESS);
    EFI_SIMPLE_TEXT_INPUT_PROTOCOL Keyboard{};
    Keyboard.ReadKeyStroke = NoKeyStroke;
    Boot.SystemTable.ConIn = &Keyboard;
    Boot.BootServices.Stall = NoStall;
    Boot.BootServices.SetWatchdogTimer = NoWatchdog;
    Boot.BootServices.LocateProtocol = NoProtocol;
    ActiveHostPlatform = &Boot;
    EXPECT_EQ(BootEntry(Boot.ImageHandle, &Boot.SystemTable), BOOT_OPTION_GO_ON_STATUS);

    // Fixtures the tool has no explanation for are held to a verdict line's first words.
    const std::string Explained = ReadFile(Base + ".explained");
    std::vector<std::string> Verdicts;
    for (const std::string &Line : ScreenLines(Explained)) {
      if (Line.starts_with("  verdict: ")) {
        Verdicts.push_back(FirmwareFreeWords(Line));
      }
    }
    std::vector<std::string> Shown = ScreenLines(Boot.ConsoleText());
    // The report runs from the facts block's empty line to the count line.
    const auto Start = std::find(Shown.begin(), Shown.end(), std::string());
    const auto End = std::find_if(Shown.begin(), Shown.end(), [](const std::string &Line) {
      return Line.starts_with("rbar-survey ") && Line.find(" scanned, ") != std::string::npos;
    });
    ASSERT_TRUE(Start != Shown.end() && End != Shown.end() && Start < End);
    const std::vector<std::string> Report(Start + 1, End);
    // The annotated lines (less the line naming functions the driver skipped, which the boot
    // image does not probe), each BAR line's verdict after its sizes and their notes.
    std::vector<std::string> Expected;
    std::optional<std::string> Held;
    size_t Verdict = 0;
    bool AfterBarLine = false;
    for (const std::string &Annotation : ScreenLines(ReadFile(Base + ".annotated"))) {
      if (Held && !Annotation.starts_with("  BAR ")) {
        Expected.push_back(*Held);
        Held.reset();
      }
      if (Annotation.find(" not scanned: ") != std::string::npos) {
        continue;
      }
      Expected.push_back(Annotation);
      if (AfterBarLine) {
        Held = Verdict < Verdicts.size() ? Verdicts[Verdict++] : std::string("  verdict: ");
      }
      AfterBarLine = Annotation.starts_with("BAR ");
    }
    if (Held) {
      Expected.push_back(*Held);
    }
    ASSERT_EQ(Report.size(), Expected.size());
    for (size_t Line = 0; Line < Report.size(); ++Line) {
      if (Expected[Line].starts_with("  verdict: ")) {
        EXPECT_TRUE(Report[Line].starts_with(Expected[Line])) << Report[Line];
      } else {
        EXPECT_EQ(Report[Line], Expected[Line]);
      }
    }
    EXPECT_EQ(Verdict, Verdicts.size());
    // Each function found is read once more, its 16 header dwords, and its Resizable BAR
    // entries for the notes.
    EXPECT_GE(Boot.TotalPciReads(), Driver.TotalPciReads() + 16 * Image.size());
    EXPECT_TRUE(Boot.Check().empty());
  }
}

} // namespace
