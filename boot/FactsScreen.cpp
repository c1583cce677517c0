// The facts screen: fixed words for the platform's facts, the verdict engine's words for the
// apertures.
#include "boot/FactsScreen.h"

#include "boot/ReportOutput.h"
#include "generated/RbarVersion.h"
#include "verdict/TextBuffer.h"

namespace {

// The UEFI revision's fields: major in the high half, minor as tenths and hundredths (2.70).
constexpr UINT32 REVISION_MAJOR_SHIFT = 16;
constexpr UINT32 REVISION_MINOR_MASK = 0xFFFF;
constexpr UINT32 REVISION_MINOR_DIGIT = 10;
// Characters of one widened line: a line of words and its CR LF.
constexpr UINTN WIDE_LINE_CHARS = WORDS_LINE_CHARS + 2;

void WriteUefiRevision(UINT32 Revision) {
  const UINT32 Minor = Revision & REVISION_MINOR_MASK;
  const UINT32 Tenths = Minor / REVISION_MINOR_DIGIT;
  const UINT32 Hundredths = Minor % REVISION_MINOR_DIGIT;
  if (Hundredths == 0) {
    ReportPrint(u"UEFI %u.%u\n", Revision >> REVISION_MAJOR_SHIFT, Tenths);
  } else {
    ReportPrint(u"UEFI %u.%u.%u\n", Revision >> REVISION_MAJOR_SHIFT, Tenths, Hundredths);
  }
}

void WritePlatformFacts(const PlatformFacts &Platform) {
  ReportPrint(u"Firmware: %s, revision 0x%08x; ",
              Platform.FirmwareVendor != nullptr ? Platform.FirmwareVendor : u"(not named)",
              Platform.FirmwareRevision);
  WriteUefiRevision(Platform.UefiRevision);
  ReportWrite(Platform.CsmLoaded ? u"CSM is on: Resizable BAR needs it off in the firmware setup\n"
                                 : u"CSM is off\n");
  switch (Platform.SecureBoot) {
  case SecureBootState::On:
    ReportWrite(u"Secure Boot is on\n");
    break;
  case SecureBootState::Off:
    ReportWrite(u"Secure Boot is off\n");
    break;
  case SecureBootState::SetupMode:
    ReportWrite(u"Secure Boot is in setup mode: off, no platform key enrolled\n");
    break;
  case SecureBootState::Unknown:
    ReportWrite(u"Secure Boot: the firmware does not say\n");
    break;
  }
}

} // namespace

void ReportWriteNarrowLines(const char *Text) {
  CHAR16 Line[WIDE_LINE_CHARS + 1];
  UINTN Length = 0;
  for (const char *Char = Text;; ++Char) {
    if (*Char == '\n' || *Char == '\0' || Length == WIDE_LINE_CHARS - 2) {
      Line[Length++] = u'\r';
      Line[Length++] = u'\n';
      Line[Length] = u'\0';
      ReportWrite(Line);
      Length = 0;
      if (*Char == '\0') {
        return;
      }
      if (*Char == '\n') {
        continue;
      }
    }
    Line[Length++] = static_cast<CHAR16>(static_cast<unsigned char>(*Char));
  }
}

void WriteFactsScreen(const PlatformFacts &Platform, const FirmwareFacts &Facts,
                      const ApertureModel &Model) {
  ReportPrint(u"rbar-survey %s, before the operating system\n", RBAR_VERSION_TEXT);
  WritePlatformFacts(Platform);
  char Words[WORDS_LINE_CHARS];
  for (UINTN Index = 0; Index < Facts.RootBridgeCount; ++Index) {
    TextBuffer Out = MakeTextBuffer(Words, sizeof(Words));
    AppendRootBridgeApertures(Out, Facts, Model, Index);
    ReportWriteNarrowLines(Words);
  }
  TextBuffer Out = MakeTextBuffer(Words, sizeof(Words));
  if (AppendUnattributedApertures(Out, Model)) {
    ReportWriteNarrowLines(Words);
  }
  ReportWrite(u"\n");
}
