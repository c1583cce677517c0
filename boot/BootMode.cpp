// The boot image's mode from its load options and its path. Both come from the firmware as raw
// bytes (an option's optional data may be anything, and need not be aligned): they are read byte
// by byte, within the sizes given.
#include "boot/BootMode.h"

#include "boot/BootCountdown.h"
#include "boot/BootStatus.h"
#include "driver/DriverGlobals.h"
#include "firmware/LoadedImage.h"
#include "print/ConsolePrint.h"

namespace {

constexpr UINT32 BITS_PER_BYTE = 8;
constexpr UINT32 DECIMAL_BASE = 10;
// Printable ASCII, the only characters option text may hold, and the case bit of letters.
constexpr CHAR16 FIRST_PRINTABLE = u' ';
constexpr CHAR16 LAST_PRINTABLE = u'~';
constexpr CHAR16 LOWER_CASE_BIT = 0x20;

constexpr CHAR16 REMOVABLE_MEDIA_PREFIX[] = u"\\EFI\\BOOT\\BOOT";
constexpr CHAR16 IMAGE_SUFFIX[] = u".EFI";
constexpr CHAR16 WAIT_WORD[] = u"wait";
constexpr CHAR16 COUNTDOWN_WORD[] = u"countdown=";
constexpr CHAR16 SAVE_WORD[] = u"save";
constexpr CHAR16 SUCCESS_WORD[] = u"success";

template <UINTN N>
constexpr UINTN Length(const CHAR16 (&)[N]) {
  return N - 1;
}

// The UCS-2 character at Index of Bytes, least significant byte first.
CHAR16 CharAt(const UINT8 *Bytes, UINTN Index) {
  return static_cast<CHAR16>(Bytes[2 * Index] | (Bytes[2 * Index + 1] << BITS_PER_BYTE));
}

CHAR16 LowerCase(CHAR16 Character) {
  return Character >= u'A' && Character <= u'Z' ? Character | LOWER_CASE_BIT : Character;
}

// True when Text[0..Count) equals Word in any case.
bool EqualsIgnoringCase(const CHAR16 *Text, UINTN Count, const CHAR16 *Word, UINTN WordCount) {
  if (Count != WordCount) {
    return false;
  }
  for (UINTN Index = 0; Index < Count; ++Index) {
    if (LowerCase(Text[Index]) != LowerCase(Word[Index])) {
      return false;
    }
  }
  return true;
}

// A file path (the image's own, as shells and GRUB pass it): it holds a path separator or ends
// in .efi.
bool NamesFile(const CHAR16 *Word, UINTN Count) {
  for (UINTN Index = 0; Index < Count; ++Index) {
    if (Word[Index] == u'\\' || Word[Index] == u'/') {
      return true;
    }
  }
  const UINTN Suffix = Length(IMAGE_SUFFIX);
  return Count >= Suffix && EqualsIgnoringCase(Word + Count - Suffix, Suffix, IMAGE_SUFFIX, Suffix);
}

// The seconds of "countdown=N" (N decimal, at most COUNTDOWN_MAX_SECONDS), or false.
bool CountdownSeconds(const CHAR16 *Word, UINTN Count, UINT32 &Seconds) {
  const UINTN Prefix = Length(COUNTDOWN_WORD);
  if (Count <= Prefix || !EqualsIgnoringCase(Word, Prefix, COUNTDOWN_WORD, Prefix)) {
    return false;
  }
  UINT32 Value = 0;
  for (UINTN Index = Prefix; Index < Count; ++Index) {
    if (Word[Index] < u'0' || Word[Index] > u'9') {
      return false;
    }
    Value = Value * DECIMAL_BASE + static_cast<UINT32>(Word[Index] - u'0');
    if (Value > COUNTDOWN_MAX_SECONDS) {
      return false;
    }
  }
  Seconds = Value;
  return true;
}

// True for "success": return EFI_SUCCESS after the report, as a boot loader's menu entry
// wants it (GRUB's entry passes it).
bool IsSuccessWord(const CHAR16 *Word, UINTN Count) {
  return EqualsIgnoringCase(Word, Count, SUCCESS_WORD, Length(SUCCESS_WORD));
}

// Names a word not understood on the console, cut to OPTION_WORD_SHOWN_CHARS characters.
void ReportUnknownWord(const CHAR16 *Word, UINTN Count) {
  CHAR16 Shown[OPTION_WORD_SHOWN_CHARS + 1];
  const bool Cut = Count > OPTION_WORD_SHOWN_CHARS;
  const UINTN Kept = Cut ? OPTION_WORD_SHOWN_CHARS : Count;
  for (UINTN Index = 0; Index < Kept; ++Index) {
    Shown[Index] = Word[Index];
  }
  Shown[Kept] = u'\0';
  Print(u"rbar-survey: load option \"%s%s\" not understood (wait, countdown=N, save, success), ignored\n",
        Shown, Kept < Count ? u"..." : u"");
}

// "save": the report file is written (see LoadOptionsSaySave); it leaves the mode as it is.
bool IsSaveWord(const CHAR16 *Word, UINTN Count) {
  return EqualsIgnoringCase(Word, Count, SAVE_WORD, Length(SAVE_WORD));
}

// True when the Count characters of Bytes from Start spell "save" in any case.
bool IsSaveWordAt(const UINT8 *Bytes, UINTN Start, UINTN Count) {
  if (Count != Length(SAVE_WORD)) {
    return false;
  }
  for (UINTN Index = 0; Index < Count; ++Index) {
    if (LowerCase(CharAt(Bytes, Start + Index)) != SAVE_WORD[Index]) {
      return false;
    }
  }
  return true;
}

// Applies one word to Mode.
void ApplyWord(const CHAR16 *Word, UINTN Count, BootMode &Mode) {
  UINT32 Seconds = 0;
  if (EqualsIgnoringCase(Word, Count, WAIT_WORD, Length(WAIT_WORD))) {
    Mode.After = AfterReport::WaitForKey;
  } else if (CountdownSeconds(Word, Count, Seconds)) {
    Mode.After = AfterReport::Countdown;
    Mode.CountdownSeconds = Seconds;
  } else if (IsSuccessWord(Word, Count)) {
    Mode.ReturnSuccess = true;
  } else if (!IsSaveWord(Word, Count)) {
    ReportUnknownWord(Word, Count);
  }
}

bool IsSeparator(CHAR16 Character) {
  return Character == u' ' || Character == u'\t';
}

} // namespace

bool IsRemovableMediaPath(const EFI_DEVICE_PATH_PROTOCOL *FilePath) {
  CHAR16 Path[FILE_PATH_MAX_CHARS];
  UINTN Count = 0;
  const auto *Node = reinterpret_cast<const UINT8 *>(FilePath);
  for (UINTN Nodes = 0; Node != nullptr && Nodes < DEVICE_PATH_MAX_NODES; ++Nodes) {
    const UINTN NodeLength = Node[2] | (Node[3] << BITS_PER_BYTE);
    if (Node[0] == END_DEVICE_PATH_TYPE || NodeLength < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      break;
    }
    if (Node[0] == MEDIA_DEVICE_PATH && Node[1] == MEDIA_FILEPATH_DP) {
      // Nodes that split a path join with one separator.
      const UINT8 *Text = Node + FILEPATH_NODE_PATH_OFFSET;
      const UINTN Chars = (NodeLength - FILEPATH_NODE_PATH_OFFSET) / sizeof(CHAR16);
      for (UINTN Index = 0; Index < Chars && CharAt(Text, Index) != u'\0'; ++Index) {
        const CHAR16 Character = CharAt(Text, Index);
        const bool Joins =
            Index == 0 && Count > 0 && Character != u'\\' && Path[Count - 1] != u'\\';
        if (Count + (Joins ? 1 : 0) >= FILE_PATH_MAX_CHARS) {
          return false;
        }
        if (Joins) {
          Path[Count++] = u'\\';
        }
        Path[Count++] = Character;
      }
    }
    Node += NodeLength;
  }
  const UINTN Prefix = Length(REMOVABLE_MEDIA_PREFIX);
  const UINTN Suffix = Length(IMAGE_SUFFIX);
  if (Count < Prefix + Suffix ||
      !EqualsIgnoringCase(Path, Prefix, REMOVABLE_MEDIA_PREFIX, Prefix) ||
      !EqualsIgnoringCase(Path + Count - Suffix, Suffix, IMAGE_SUFFIX, Suffix)) {
    return false;
  }
  for (UINTN Index = Prefix; Index < Count; ++Index) {
    if (Path[Index] == u'\\') {
      return false;
    }
  }
  return true;
}

BootMode ParseLoadOptions(const void *Options, UINT32 Size, BootMode Default) {
  const auto *Bytes = static_cast<const UINT8 *>(Options);
  UINTN Count = Bytes == nullptr ? 0 : Size / sizeof(CHAR16);
  Count = Count < LOAD_OPTIONS_MAX_CHARS ? Count : LOAD_OPTIONS_MAX_CHARS;
  CHAR16 Text[LOAD_OPTIONS_MAX_CHARS];
  UINTN Chars = 0;
  for (; Chars < Count && CharAt(Bytes, Chars) != u'\0'; ++Chars) {
    Text[Chars] = CharAt(Bytes, Chars);
    if ((Text[Chars] < FIRST_PRINTABLE || Text[Chars] > LAST_PRINTABLE) && Text[Chars] != u'\t') {
      return Default;
    }
  }
  BootMode Mode = Default;
  bool First = true;
  for (UINTN Start = 0; Start < Chars;) {
    if (IsSeparator(Text[Start])) {
      ++Start;
      continue;
    }
    UINTN End = Start;
    while (End < Chars && !IsSeparator(Text[End])) {
      ++End;
    }
    if (!First || !NamesFile(Text + Start, End - Start)) {
      ApplyWord(Text + Start, End - Start, Mode);
    }
    First = false;
    Start = End;
  }
  return Mode;
}

bool LoadOptionsSaySave(const void *Options, UINT32 Size) {
  const auto *Bytes = static_cast<const UINT8 *>(Options);
  const UINTN Chars = Bytes == nullptr ? 0 : Size / sizeof(CHAR16);
  const UINTN Count = Chars < LOAD_OPTIONS_MAX_CHARS ? Chars : LOAD_OPTIONS_MAX_CHARS;
  bool Save = false;
  UINTN WordStart = 0;
  for (UINTN Index = 0; Index < Count && CharAt(Bytes, Index) != u'\0'; ++Index) {
    const CHAR16 Character = CharAt(Bytes, Index);
    if ((Character < FIRST_PRINTABLE || Character > LAST_PRINTABLE) && Character != u'\t') {
      return false;
    }
    const bool LastOfWord =
        !IsSeparator(Character) && (Index + 1 == Count || CharAt(Bytes, Index + 1) == u'\0' ||
                                    IsSeparator(CharAt(Bytes, Index + 1)));
    if (IsSeparator(Character)) {
      WordStart = Index + 1;
    } else if (LastOfWord) {
      Save = Save || IsSaveWordAt(Bytes, WordStart, Index + 1 - WordStart);
    }
  }
  return Save;
}

bool WantsSave(EFI_HANDLE Image) {
  void *Interface = nullptr;
  if (EfiIsError(
          BootServices->HandleProtocol(Image, &EFI_LOADED_IMAGE_PROTOCOL_GUID, &Interface)) ||
      Interface == nullptr) {
    return false;
  }
  const auto *Loaded = static_cast<const EFI_LOADED_IMAGE_PROTOCOL *>(Interface);
  return LoadOptionsSaySave(Loaded->LoadOptions, Loaded->LoadOptionsSize);
}

EFI_STATUS StatusAfterReport(const BootMode &Mode) {
  return Mode.ReturnSuccess ? EFI_SUCCESS : BOOT_OPTION_GO_ON_STATUS;
}

BootMode ChooseBootMode(EFI_HANDLE Image) {
  BootMode Mode = {AfterReport::Countdown, BOOT_COUNTDOWN_SECONDS};
  void *Interface = nullptr;
  if (EfiIsError(
          BootServices->HandleProtocol(Image, &EFI_LOADED_IMAGE_PROTOCOL_GUID, &Interface)) ||
      Interface == nullptr) {
    return Mode;
  }
  const auto *Loaded = static_cast<const EFI_LOADED_IMAGE_PROTOCOL *>(Interface);
  if (IsRemovableMediaPath(Loaded->FilePath)) {
    Mode.After = AfterReport::WaitForKey;
  }
  return ParseLoadOptions(Loaded->LoadOptions, Loaded->LoadOptionsSize, Mode);
}
