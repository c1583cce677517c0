// The report file: when the image was started from removable media, or its load options say
// "save", the report goes into a new file \rbar-survey\RBARnnnn.TXT on the volume the image was
// loaded from. Existing files are never opened for writing, changed or deleted.
#pragma once

#include "boot/ReportCapture.h"
#include "firmware/UefiBase.h"
#include "verdict/FirmwareFacts.h"

// Numbers of the report files: RBAR0001.TXT to RBAR9999.TXT.
inline constexpr UINT32 REPORT_FILE_FIRST_NUMBER = 1;
inline constexpr UINT32 REPORT_FILE_LAST_NUMBER = 9999;

// Where the report file goes: the volume the image was loaded from.
struct ReportFileTarget {
  EFI_HANDLE Device;
  // The volume is removable media (a stick): its block device says so, or it sits on USB, or
  // the image was started from the removable-media path \EFI\BOOT\BOOT<name>.EFI.
  bool Removable;
};

// True when the report is to be saved: the image was started from removable media, or Save (its
// load options said "save"). Fills Target.
bool ChooseReportFile(EFI_HANDLE Image, bool Save, ReportFileTarget &Target);

// What a save came to.
enum class SaveOutcome : UINT32 {
  Saved,
  NoFileSystem,
  WriteProtected,
  VolumeFull,
  AllNumbersTaken,
  NoMemory,
  OtherError,
};

struct SaveResult {
  SaveOutcome Outcome;
  // The number of the file written (Saved), or of the file that failed (0: none was made).
  UINT32 Number;
  // The firmware's status of the failure.
  EFI_STATUS Status;
};

// Writes the report file: "@rbar-survey-report 1", the report's lines, the firmware facts, the
// configuration dump and, only when everything before it was written and flushed, "@end".
SaveResult SaveReportFile(const ReportCapture &Capture, const FirmwareFacts &Facts,
                          const ReportFileTarget &Target);

// Names the result on the console in one line.
void ShowSaveResult(const SaveResult &Result, const ReportFileTarget &Target);
