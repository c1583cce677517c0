// The report file on the host: the save against an in-memory volume (numbering, existing files
// left alone, write-protected and full media, "@end" only on a whole file), the dump's paths
// over the tool's dump fixtures, the capture of the report's lines, and the "save" option.
#include <cstring>
#include <map>
#include <memory>

#include "boot/BootMode.h"
#include "boot/ReportCapture.h"
#include "boot/ReportDump.h"
#include "boot/ReportFile.h"
#include "firmware/FileProtocol.h"
#include "host/ConfigImage.h"
#include "tests/host/HostTestSupport.h"

namespace {

// A FAT volume in memory: files by upper-case path, their bytes, and what may go wrong.
struct FakeVolume {
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL Protocol{};
  std::map<std::u16string, std::string> Files;
  std::map<std::u16string, bool> Folders;
  bool ReadOnly = false;
  // Bytes the volume still takes.
  size_t FreeBytes = SIZE_MAX;
  // A status the next open that creates returns.
  EFI_STATUS CreateFault = EFI_SUCCESS;
  // Existing files opened for writing: never allowed.
  std::vector<std::u16string> ExistingOpenedForWriting;
  int OpenHandles = 0;
};

struct FakeFile {
  EFI_FILE_PROTOCOL Protocol{};
  FakeVolume *Volume = nullptr;
  std::u16string Path;
};

FakeVolume *ActiveVolume = nullptr;

std::u16string Upper(const CHAR16 *Name) {
  std::u16string Text;
  for (; *Name != u'\0'; ++Name) {
    Text += (*Name >= u'a' && *Name <= u'z') ? static_cast<CHAR16>(*Name - 0x20) : *Name;
  }
  return Text;
}

EFI_STATUS EFIAPI FakeClose(EFI_FILE_PROTOCOL *This) {
  auto *File = reinterpret_cast<FakeFile *>(This);
  --File->Volume->OpenHandles;
  delete File;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeWrite(EFI_FILE_PROTOCOL *This, UINTN *Size, const void *Buffer) {
  auto *File = reinterpret_cast<FakeFile *>(This);
  FakeVolume &Volume = *File->Volume;
  if (Volume.ReadOnly) {
    *Size = 0;
    return EFI_WRITE_PROTECTED;
  }
  const size_t Requested = *Size;
  const size_t Taken = std::min<size_t>(Requested, Volume.FreeBytes);
  Volume.Files[File->Path].append(static_cast<const char *>(Buffer), Taken);
  Volume.FreeBytes -= Taken;
  *Size = Taken;
  return Taken < Requested ? EFI_VOLUME_FULL : EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeFlush(EFI_FILE_PROTOCOL *) {
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeOpen(EFI_FILE_PROTOCOL *, EFI_FILE_PROTOCOL **New, const CHAR16 *Name,
                           UINT64 Mode, UINT64 Attributes);

FakeFile *NewHandle(FakeVolume &Volume, std::u16string Path) {
  auto *File = new FakeFile;
  File->Protocol.Open = FakeOpen;
  File->Protocol.Close = FakeClose;
  File->Protocol.Write = FakeWrite;
  File->Protocol.Flush = FakeFlush;
  File->Volume = &Volume;
  File->Path = std::move(Path);
  ++Volume.OpenHandles;
  return File;
}

EFI_STATUS EFIAPI FakeOpen(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **New, const CHAR16 *Name,
                           UINT64 Mode, UINT64 Attributes) {
  FakeVolume &Volume = *reinterpret_cast<FakeFile *>(This)->Volume;
  const std::u16string Path = Upper(Name);
  const bool Exists = Volume.Files.count(Path) != 0 || Volume.Folders.count(Path) != 0;
  if (Exists) {
    if ((Mode & EFI_FILE_MODE_WRITE) != 0 && Volume.Files.count(Path) != 0) {
      Volume.ExistingOpenedForWriting.push_back(Path);
    }
  } else if ((Mode & EFI_FILE_MODE_CREATE) == 0) {
    return EFI_NOT_FOUND;
  } else if (Volume.ReadOnly) {
    return EFI_WRITE_PROTECTED;
  } else if (EfiIsError(Volume.CreateFault)) {
    return Volume.CreateFault;
  } else if ((Attributes & EFI_FILE_DIRECTORY) != 0) {
    Volume.Folders[Path] = true;
  } else {
    Volume.Files[Path] = "";
  }
  *New = &NewHandle(Volume, Path)->Protocol;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeOpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *, EFI_FILE_PROTOCOL **Root) {
  *Root = &NewHandle(*ActiveVolume, u"\\")->Protocol;
  return EFI_SUCCESS;
}

// The volume's handle, and the host's HandleProtocol for everything else.
int VolumeHandleMark = 0;
EFI_HANDLE const VOLUME_HANDLE = &VolumeHandleMark;
EFI_HANDLE_PROTOCOL HostHandleProtocol = nullptr;

EFI_STATUS EFIAPI VolumeHandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                       void **Interface) {
  if (Handle == VOLUME_HANDLE && ActiveVolume != nullptr &&
      GuidsEqual(*Protocol, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID)) {
    *Interface = &ActiveVolume->Protocol;
    return EFI_SUCCESS;
  }
  return HostHandleProtocol(Handle, Protocol, Interface);
}

std::u16string ReportPath(int Number) {
  char Name[32];
  std::snprintf(Name, sizeof(Name), "\\RBAR-SURVEY\\RBAR%04d.TXT", Number);
  return std::u16string(Name, Name + std::strlen(Name));
}

constexpr char REPORT_TEXT[] = "# rbar-survey: 0 functions with a Resizable BAR found\r\n";

struct SaveRow {
  const char *Name;
  // Report files there before, by number, and whether the folder is.
  std::vector<int> Existing;
  bool FolderThere;
  bool HasFileSystem;
  bool ReadOnly;
  size_t FreeBytes;
  EFI_STATUS CreateFault;
  SaveOutcome Outcome;
  int Number;
  // The console's line about it.
  std::string Console;
};

std::vector<int> Numbers(int First, int Last) {
  std::vector<int> List;
  for (int Number = First; Number <= Last; ++Number) {
    List.push_back(Number);
  }
  return List;
}

const SaveRow SAVE_ROWS[] = {
    {"empty stick",
     {},
     false,
     true,
     false,
     SIZE_MAX,
     EFI_SUCCESS,
     SaveOutcome::Saved,
     1,
     "Saved to \\rbar-survey\\RBAR0001.TXT on this stick\r\n"},
    {"next after three",
     {1, 2, 3},
     true,
     true,
     false,
     SIZE_MAX,
     EFI_SUCCESS,
     SaveOutcome::Saved,
     4,
     "Saved to \\rbar-survey\\RBAR0004.TXT on this stick\r\n"},
    {"first gap",
     {1, 3},
     true,
     true,
     false,
     SIZE_MAX,
     EFI_SUCCESS,
     SaveOutcome::Saved,
     2,
     "Saved to \\rbar-survey\\RBAR0002.TXT on this stick\r\n"},
    {"all taken", Numbers(1, 9999), true, true, false, SIZE_MAX, EFI_SUCCESS,
     SaveOutcome::AllNumbersTaken, 0,
     "rbar-survey: not saved: \\rbar-survey\\ on the stick already holds RBAR0001.TXT to "
     "RBAR9999.TXT\r\n"},
    {"last number left", Numbers(1, 9998), true, true, false, SIZE_MAX, EFI_SUCCESS,
     SaveOutcome::Saved, 9999, "Saved to \\rbar-survey\\RBAR9999.TXT on this stick\r\n"},
    {"write-protected",
     {},
     false,
     true,
     true,
     SIZE_MAX,
     EFI_SUCCESS,
     SaveOutcome::WriteProtected,
     0,
     "rbar-survey: not saved: the stick is write-protected\r\n"},
    {"full before @end",
     {},
     true,
     true,
     false,
     40,
     EFI_SUCCESS,
     SaveOutcome::VolumeFull,
     1,
     "rbar-survey: not saved: the stick is full\r\n"},
    {"no room at all",
     {},
     true,
     true,
     false,
     0,
     EFI_SUCCESS,
     SaveOutcome::VolumeFull,
     1,
     "rbar-survey: not saved: the stick is full\r\n"},
    {"device error on create",
     {},
     true,
     true,
     false,
     SIZE_MAX,
     EFI_DEVICE_ERROR,
     SaveOutcome::OtherError,
     0,
     "rbar-survey: not saved: the stick's file system said Device Error\r\n"},
    {"no file system",
     {},
     false,
     false,
     false,
     SIZE_MAX,
     EFI_SUCCESS,
     SaveOutcome::NoFileSystem,
     0,
     "rbar-survey: not saved: the stick it was started from has no file system the firmware can "
     "write (Unsupported)\r\n"},
};

TEST_F(HostPlatformTest, SaveWritesANewFileOrNamesWhyNot) {
  for (const SaveRow &Row : SAVE_ROWS) {
    SCOPED_TRACE(Row.Name);
    FakeVolume Volume;
    Volume.Protocol.OpenVolume = FakeOpenVolume;
    Volume.ReadOnly = Row.ReadOnly;
    Volume.FreeBytes = Row.FreeBytes;
    Volume.CreateFault = Row.CreateFault;
    if (Row.FolderThere) {
      Volume.Folders[u"\\RBAR-SURVEY"] = true;
    }
    for (const int Number : Row.Existing) {
      Volume.Files[ReportPath(Number)] = "kept " + std::to_string(Number);
    }
    const auto Before = Volume.Files;
    ActiveVolume = &Volume;
    EFI_BOOT_SERVICES Services = Platform.BootServices;
    HostHandleProtocol = Platform.BootServices.HandleProtocol;
    Services.HandleProtocol = VolumeHandleProtocol;
    SystemTable = &Platform.SystemTable;
    BootServices = &Services;
    std::string Text = REPORT_TEXT;
    ReportCapture Capture = {Text.data(), Text.size(), Text.size(), Text.size(), true, false};
    FirmwareFacts Facts;
    ClearFirmwareFacts(Facts);
    const ReportFileTarget Target = {Row.HasFileSystem ? VOLUME_HANDLE : Platform.ImageHandle,
                                     true};
    Platform.ConsoleWrites.clear();

    const SaveResult Result = SaveReportFile(Capture, Facts, Target);
    ShowSaveResult(Result, Target);

    EXPECT_EQ(Result.Outcome, Row.Outcome);
    EXPECT_EQ(static_cast<int>(Result.Number), Row.Number);
    EXPECT_EQ(Platform.ConsoleText(), Row.Console);
    EXPECT_TRUE(Volume.ExistingOpenedForWriting.empty());
    EXPECT_EQ(Volume.OpenHandles, 0);
    // Files that were there are as they were; a new one only where a number was free.
    for (const auto &[Path, Content] : Before) {
      EXPECT_EQ(Volume.Files.at(Path), Content);
    }
    EXPECT_EQ(Volume.Files.size(), Before.size() + (Row.Number != 0 ? 1 : 0));
    if (Row.Number != 0) {
      const std::string &Written = Volume.Files.at(ReportPath(Row.Number));
      const bool Whole = Row.Outcome == SaveOutcome::Saved;
      EXPECT_EQ(Written.ends_with("\r\n@end\r\n"), Whole) << Written;
      if (Whole) {
        EXPECT_EQ(Written, std::string("@rbar-survey-report 1\r\n") + REPORT_TEXT + "@end\r\n");
      }
    }
    BootServices = &Platform.BootServices;
    ActiveVolume = nullptr;
  }
}

// The dump's functions for a report line: the bridges from the root bus down, function 0 of the
// device, the function; each function's bytes as the bridge holds them.
struct DumpRow {
  const char *Dump;
  std::string Report;
  std::vector<std::string> Addresses;
  // Hex lines of each function dumped: 16 (256 bytes) or 256 (4096 bytes).
  size_t LinesPerFunction;
};

const DumpRow DUMP_ROWS[] = {
    {"explain-switch.dump",
     "# 0000:04:00.0 1002:731f\r\n",
     {"0000:00:01.1", "0000:01:00.0", "0000:02:01.0", "0000:04:00.0"},
     256},
    {"explain-switch.dump",
     "# 0000:03:00.1 1002:ab38\r\n# 0000:03:00.1 again, in the summary\r\n# 0000:03:00.1\r\n",
     {"0000:00:01.1", "0000:01:00.0", "0000:02:00.0", "0000:03:00.0", "0000:03:00.1"},
     256},
    {"explain-root-port.dump",
     "# 0000:01:00.1 10de:22ba\r\n#   verdict: 0000:02:00.0 is not at a line start\r\n",
     {"0000:00:01.0", "0000:01:00.0", "0000:01:00.1"},
     256},
    {"conventional-256.dump", "# 0000:02:00.0 10de:2204\r\n", {"0000:02:00.0"}, 16},
    {"explain-switch.dump",
     "# 0000:07:00.0 nowhere\r\n# 000:04:00.0\r\n# 0000:04:00.8\r\n# 0001:04:00.0\r\n",
     {},
     0},
};

// A writer that gathers into a string instead of a file.
EFI_STATUS EFIAPI GatherWrite(EFI_FILE_PROTOCOL *This, UINTN *Size, const void *Buffer) {
  reinterpret_cast<FakeFile *>(This)->Volume->Files[u"OUT"].append(
      static_cast<const char *>(Buffer), *Size);
  return EFI_SUCCESS;
}

TEST(ReportDumpTest, HoldsEachFunctionOnThePath) {
  for (const DumpRow &Row : DUMP_ROWS) {
    SCOPED_TRACE(std::string(Row.Dump) + ": " + Row.Report);
    HostPlatform Local;
    ConfigImage Image;
    std::string Error;
    const std::string Directory =
        std::string(Row.Dump).starts_with("explain") ? RBAR_TOOL_FIXTURE_DIR : RBAR_DUMP_DIR;
    ASSERT_TRUE(LoadConfigDump(Directory + "/" + Row.Dump, Image, Error)) << Error;
    Local.AddRootBridge(Image, BusDescriptor(0, HighestBus(Image)));
    SystemTable = &Local.SystemTable;
    BootServices = &Local.BootServices;
    FakeVolume Volume;
    FakeFile File;
    File.Volume = &Volume;
    File.Protocol.Write = GatherWrite;
    File.Protocol.Flush = FakeFlush;
    ReportFileWriter Writer = OpenReportWriter(&File.Protocol);
    WriteConfigurationDump(Writer, Row.Report.data(), Row.Report.size());
    EXPECT_EQ(FlushReportWriter(Writer), EFI_SUCCESS);
    CloseReportWriter(Writer);

    ConfigImage Dumped;
    const std::string &Out = Volume.Files[u"OUT"];
    ASSERT_TRUE(ParseConfigDump(Out, "report", Dumped, Error)) << Error << Out;
    std::vector<std::string> Addresses;
    for (size_t Start = 0; Start < Out.size();) {
      const size_t End = Out.find("\r\n", Start);
      const std::string Line = Out.substr(Start, End - Start);
      if (Line.size() == 22 && Line[4] == ':') {
        Addresses.push_back(Line.substr(0, 12));
      }
      Start = End + 2;
    }
    EXPECT_EQ(Addresses, Row.Addresses);
    for (const ConfigFunction &Function : Dumped) {
      EXPECT_EQ(Function.Bytes.size(), Row.LinesPerFunction * 16);
      const auto Source = std::find_if(Image.begin(), Image.end(), [&](const ConfigFunction &F) {
        return F.Bus == Function.Bus && F.Device == Function.Device &&
               F.Function == Function.Function;
      });
      ASSERT_NE(Source, Image.end());
      EXPECT_TRUE(std::equal(Function.Bytes.begin(), Function.Bytes.end(), Source->Bytes.begin()));
    }
    EXPECT_TRUE(Local.Check().empty());
  }
}

struct CaptureRow {
  const char *Name;
  std::vector<std::u16string> Writes;
  size_t Capacity;
  std::string Kept;
  bool Cut;
};

const std::u16string LONG_WORDS = std::u16string(150, u'a') + u" " + std::u16string(100, u'b');

const CaptureRow CAPTURE_ROWS[] = {
    {"lines in pieces",
     {u"one", u" two\n", u"three\r\n", u"\n"},
     100,
     "# one two\r\n# three\r\n# \r\n",
     false},
    {"stray CR dropped, non-ASCII marked", {u"a\rb\u00e9\t\n"}, 100, "# ab??\r\n", false},
    {"long line broken at its last space",
     {LONG_WORDS + u"\n"},
     1000,
     "# " + std::string(150, 'a') + "\r\n#     " + std::string(100, 'b') + "\r\n",
     false},
    {"long word broken where it reaches the limit",
     {std::u16string(250, u'c') + u"\n"},
     1000,
     "# " + std::string(198, 'c') + "\r\n#     " + std::string(52, 'c') + "\r\n",
     false},
    {"a line that does not fit is left out whole",
     {u"first\n", u"second line\n", u"third\n"},
     20,
     "# first\r\n",
     true},
};

TEST(ReportCaptureTest, KeepsLinesPrefixedWithinLimits) {
  for (const CaptureRow &Row : CAPTURE_ROWS) {
    SCOPED_TRACE(Row.Name);
    std::string Buffer(Row.Capacity, '\0');
    ReportCapture Capture = {Buffer.data(), 0, Row.Capacity, 0, true, false};
    for (const std::u16string &Write : Row.Writes) {
      CaptureReportText(Capture, Write.c_str());
    }
    EXPECT_EQ(std::string(Capture.Text, Capture.Size), Row.Kept);
    EXPECT_EQ(Capture.Cut, Row.Cut);
  }
}

TEST(ReportCaptureTest, SaveOptionIsAWordOfItsOwn) {
  const std::pair<std::u16string, bool> Rows[] = {
      {u"save", true},
      {u"wait SAVE", true},
      {u"countdown=5\tsave", true},
      {u"saved", false},
      {u"autosave", false},
      {u"", false},
      {u"wait", false},
      {std::u16string(u"save\0x", 6), true},
      {u"save\u00e9", false},
  };
  for (const auto &[Text, Save] : Rows) {
    SCOPED_TRACE(std::string(Text.begin(), Text.end()));
    EXPECT_EQ(LoadOptionsSaySave(Text.data(), static_cast<UINT32>(Text.size() * 2)), Save);
  }
}

} // namespace
