// The report file's save: the folder, the next free number, the file written whole and
// flushed, "@end" last.
#include "boot/ReportFile.h"

#include "boot/ReportDump.h"
#include "boot/ReportFileWriter.h"
#include "driver/DriverGlobals.h"
#include "firmware/FileProtocol.h"
#include "print/ConsolePrint.h"
#include "verdict/FactsLines.h"

namespace {

constexpr CHAR16 FOLDER_PATH[] = u"\\rbar-survey";
// "\rbar-survey\RBARnnnn.TXT": the folder, then the name, whose digits start at NUMBER_AT.
constexpr CHAR16 FILE_PATH_TEMPLATE[] = u"\\rbar-survey\\RBAR0000.TXT";
constexpr UINTN NUMBER_AT = 17;
constexpr UINTN NUMBER_DIGITS = 4;
constexpr UINT32 DECIMAL_BASE = 10;
static_assert(FILE_PATH_TEMPLATE[NUMBER_AT] == u'0' && FILE_PATH_TEMPLATE[NUMBER_AT - 1] == u'R');

constexpr CHAR8 LINE_END[] = "\r\n";
constexpr CHAR8 CUT_LINE[] = "# (the report was longer than the file keeps: the rest is on the "
                             "screen only)\r\n";

struct FilePath {
  CHAR16 Text[sizeof(FILE_PATH_TEMPLATE) / sizeof(CHAR16)];
};

FilePath PathOf(UINT32 Number) {
  FilePath Path = {};
  for (UINTN Index = 0; Index < sizeof(FILE_PATH_TEMPLATE) / sizeof(CHAR16); ++Index) {
    Path.Text[Index] = FILE_PATH_TEMPLATE[Index];
  }
  for (UINTN Digit = NUMBER_DIGITS; Digit > 0; --Digit) {
    Path.Text[NUMBER_AT + Digit - 1] = static_cast<CHAR16>(u'0' + Number % DECIMAL_BASE);
    Number /= DECIMAL_BASE;
  }
  return Path;
}

SaveOutcome OutcomeOf(EFI_STATUS Status) {
  if (Status == EFI_WRITE_PROTECTED) {
    return SaveOutcome::WriteProtected;
  }
  if (Status == EFI_VOLUME_FULL) {
    return SaveOutcome::VolumeFull;
  }
  if (Status == EFI_OUT_OF_RESOURCES) {
    return SaveOutcome::NoMemory;
  }
  return SaveOutcome::OtherError;
}

SaveResult Failed(EFI_STATUS Status, UINT32 Number) {
  return {OutcomeOf(Status), Number, Status};
}

// Opens the volume's root directory.
EFI_STATUS OpenRoot(EFI_HANDLE Device, EFI_FILE_PROTOCOL *&Root) {
  void *Interface = nullptr;
  Root = nullptr;
  if (Device == nullptr ||
      EfiIsError(BootServices->HandleProtocol(Device, &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID,
                                              &Interface)) ||
      Interface == nullptr) {
    return EFI_UNSUPPORTED;
  }
  auto *Volume = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *>(Interface);
  const EFI_STATUS Status = Volume->OpenVolume(Volume, &Root);
  return !EfiIsError(Status) && Root == nullptr ? EFI_DEVICE_ERROR : Status;
}

// Opens Path read-only to see whether it exists: EFI_SUCCESS (it does, and is closed again),
// EFI_NOT_FOUND, or the failure.
EFI_STATUS Exists(EFI_FILE_PROTOCOL *Root, const CHAR16 *Path) {
  EFI_FILE_PROTOCOL *File = nullptr;
  const EFI_STATUS Status =
      Root->Open(Root, &File, Path, EFI_FILE_MODE_READ, EFI_FILE_NO_ATTRIBUTES);
  if (!EfiIsError(Status) && File != nullptr) {
    File->Close(File);
  }
  return Status;
}

// Makes the folder unless it is there.
EFI_STATUS MakeFolder(EFI_FILE_PROTOCOL *Root) {
  const EFI_STATUS Found = Exists(Root, FOLDER_PATH);
  if (Found != EFI_NOT_FOUND) {
    return Found;
  }
  EFI_FILE_PROTOCOL *Folder = nullptr;
  const EFI_STATUS Status = Root->Open(
      Root, &Folder, FOLDER_PATH, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE,
      EFI_FILE_DIRECTORY);
  if (!EfiIsError(Status) && Folder != nullptr) {
    Folder->Close(Folder);
  }
  return Status;
}

// The first number whose file is not there, or 0 when all are taken; Status the failure of a
// look that failed otherwise.
UINT32 FreeNumber(EFI_FILE_PROTOCOL *Root, EFI_STATUS &Status) {
  Status = EFI_SUCCESS;
  for (UINT32 Number = REPORT_FILE_FIRST_NUMBER; Number <= REPORT_FILE_LAST_NUMBER; ++Number) {
    const EFI_STATUS Found = Exists(Root, PathOf(Number).Text);
    if (Found == EFI_NOT_FOUND) {
      return Number;
    }
    if (EfiIsError(Found)) {
      Status = Found;
      return 0;
    }
  }
  return 0;
}

// Writes one line, without its line end, and the line end.
void WriteLine(void *Context, const char *Line) {
  auto &Writer = *static_cast<ReportFileWriter *>(Context);
  WriteString(Writer, Line);
  WriteString(Writer, LINE_END);
}

// Writes the whole file through Writer; "@end" only after the rest was written and flushed.
EFI_STATUS WriteReport(ReportFileWriter &Writer, const ReportCapture &Capture,
                       const FirmwareFacts &Facts) {
  WriteLine(&Writer, REPORT_FILE_FIRST_LINE);
  WriteBytes(Writer, Capture.Text, Capture.Size);
  if (Capture.Cut) {
    WriteString(Writer, CUT_LINE);
  }
  WriteFactsLines(Facts, WriteLine, &Writer);
  WriteConfigurationDump(Writer, Capture.Text, Capture.Size);
  if (EfiIsError(FlushReportWriter(Writer))) {
    return Writer.Status;
  }
  WriteLine(&Writer, REPORT_FILE_END_LINE);
  return FlushReportWriter(Writer);
}

} // namespace

SaveResult SaveReportFile(const ReportCapture &Capture, const FirmwareFacts &Facts,
                          const ReportFileTarget &Target) {
  if (Capture.Text == nullptr) {
    return {SaveOutcome::NoMemory, 0, EFI_OUT_OF_RESOURCES};
  }
  EFI_FILE_PROTOCOL *Root = nullptr;
  EFI_STATUS Status = OpenRoot(Target.Device, Root);
  if (EfiIsError(Status)) {
    return {SaveOutcome::NoFileSystem, 0, Status};
  }
  Status = MakeFolder(Root);
  if (EfiIsError(Status)) {
    Root->Close(Root);
    return Failed(Status, 0);
  }
  const UINT32 Number = FreeNumber(Root, Status);
  if (Number == 0) {
    Root->Close(Root);
    return EfiIsError(Status) ? Failed(Status, 0)
                              : SaveResult{SaveOutcome::AllNumbersTaken, 0, EFI_SUCCESS};
  }
  EFI_FILE_PROTOCOL *File = nullptr;
  Status = Root->Open(Root, &File, PathOf(Number).Text,
                      EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE,
                      EFI_FILE_NO_ATTRIBUTES);
  if (EfiIsError(Status) || File == nullptr) {
    Root->Close(Root);
    return Failed(EfiIsError(Status) ? Status : EFI_DEVICE_ERROR, 0);
  }
  ReportFileWriter Writer = OpenReportWriter(File);
  Status = WriteReport(Writer, Capture, Facts);
  CloseReportWriter(Writer);
  const EFI_STATUS Closed = File->Close(File);
  Root->Close(Root);
  if (!EfiIsError(Status) && EfiIsError(Closed)) {
    Status = Closed;
  }
  return EfiIsError(Status) ? Failed(Status, Number)
                            : SaveResult{SaveOutcome::Saved, Number, Status};
}

void ShowSaveResult(const SaveResult &Result, const ReportFileTarget &Target) {
  const CHAR16 *Medium = Target.Removable ? u"stick" : u"volume";
  switch (Result.Outcome) {
  case SaveOutcome::Saved:
    Print(u"Saved to %s on this %s\n", PathOf(Result.Number).Text, Medium);
    return;
  case SaveOutcome::NoFileSystem:
    Print(u"rbar-survey: not saved: the %s it was started from has no file system the firmware "
          u"can write (%r)\n",
          Medium, Result.Status);
    return;
  case SaveOutcome::WriteProtected:
    Print(u"rbar-survey: not saved: the %s is write-protected\n", Medium);
    return;
  case SaveOutcome::VolumeFull:
    Print(u"rbar-survey: not saved: the %s is full\n", Medium);
    return;
  case SaveOutcome::AllNumbersTaken:
    Print(u"rbar-survey: not saved: \\rbar-survey\\ on the %s already holds RBAR0001.TXT to "
          u"RBAR9999.TXT\n",
          Medium);
    return;
  case SaveOutcome::NoMemory:
    Print(u"rbar-survey: not saved: the firmware has no memory to spare for it\n");
    return;
  case SaveOutcome::OtherError:
    Print(u"rbar-survey: not saved: the %s's file system said %r\n", Medium, Result.Status);
    return;
  }
}
