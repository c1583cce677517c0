// The "@" lines of the firmware's facts, read strictly (lower-case hex of the exact widths,
// single spaces, nothing after the last word) and written in the same form.
#include "verdict/FactsLines.h"

namespace {

// Hex digits of an address; of a segment (at least, and at most for 32 bits); of a bus.
constexpr UINTN ADDRESS_DIGITS = 16;
constexpr UINTN SEGMENT_MIN_DIGITS = 4;
constexpr UINTN SEGMENT_MAX_DIGITS = 8;
constexpr UINTN BUS_DIGITS = 2;
constexpr UINT32 HEX_DIGIT_BITS = 4;
constexpr UINT64 HEX_LETTER_BASE = 10;
// Words of a line kept at most; a line with more is malformed.
constexpr UINTN MAX_WORDS = 5;
// Characters of the longest line written, its terminator included.
constexpr UINTN LINE_CHARS = 96;

// One word of a line: where it starts and its length.
struct Word {
  const char *Text;
  UINTN Length;
};

// A line split at single spaces.
struct Words {
  Word Items[MAX_WORDS];
  UINTN Count;
};

// Splits Line[0..Length) at spaces; false for an empty word or more than MAX_WORDS.
bool SplitWords(const char *Line, UINTN Length, Words &Split) {
  Split.Count = 0;
  UINTN Start = 0;
  for (UINTN At = 0; At <= Length; ++At) {
    if (At < Length && Line[At] != ' ') {
      continue;
    }
    if (At == Start || Split.Count >= MAX_WORDS) {
      return false;
    }
    Split.Items[Split.Count++] = {Line + Start, At - Start};
    Start = At + 1;
  }
  return true;
}

// True when Item is exactly Text.
bool Is(const Word &Item, const char *Text) {
  UINTN At = 0;
  for (; Text[At] != '\0'; ++At) {
    if (At >= Item.Length || Item.Text[At] != Text[At]) {
      return false;
    }
  }
  return At == Item.Length;
}

// Reads Count lower-case hex digits at Text into Value.
bool ReadHexDigits(const char *Text, UINTN Count, UINT64 &Value) {
  Value = 0;
  for (UINTN At = 0; At < Count; ++At) {
    const char Digit = Text[At];
    UINT64 Nibble = 0;
    if (Digit >= '0' && Digit <= '9') {
      Nibble = static_cast<UINT64>(Digit - '0');
    } else if (Digit >= 'a' && Digit <= 'f') {
      Nibble = static_cast<UINT64>(Digit - 'a') + HEX_LETTER_BASE;
    } else {
      return false;
    }
    Value = (Value << HEX_DIGIT_BITS) | Nibble;
  }
  return true;
}

// "BASE-LIMIT" of Digits digits each, the limit not below the base.
bool ReadRange(const Word &Item, UINTN Digits, UINT64 &Base, UINT64 &Limit) {
  return Item.Length == 2 * Digits + 1 && Item.Text[Digits] == '-' &&
         ReadHexDigits(Item.Text, Digits, Base) &&
         ReadHexDigits(Item.Text + Digits + 1, Digits, Limit) && Base <= Limit;
}

// "@root-bridge SSSS BB-BB [unknown]".
FactsLineKind ReadRootBridge(FactsReader &Reader, const Words &Split) {
  const Word &Segment = Split.Items[1];
  UINT64 SegmentValue = 0;
  UINT64 First = 0;
  UINT64 Last = 0;
  if (Split.Count < 3 || Split.Count > 4 || Reader.SeenMemoryMap ||
      Segment.Length < SEGMENT_MIN_DIGITS || Segment.Length > SEGMENT_MAX_DIGITS ||
      !ReadHexDigits(Segment.Text, Segment.Length, SegmentValue) ||
      !ReadRange(Split.Items[2], BUS_DIGITS, First, Last) ||
      (Split.Count == 4 && !Is(Split.Items[3], "unknown"))) {
    return FactsLineKind::Malformed;
  }
  Reader.SeenRootBridge = true;
  Reader.Current =
      AddRootBridge(*Reader.Facts, static_cast<UINT32>(SegmentValue), static_cast<UINT8>(First),
                    static_cast<UINT8>(Last), Split.Count == 3);
  return FactsLineKind::Fact;
}

// "@allocated BASE-LIMIT mem32|mem64 [prefetchable]".
FactsLineKind ReadAllocated(FactsReader &Reader, const Words &Split) {
  AllocatedRange Range = {};
  if (Split.Count < 3 || Split.Count > 4 || !Reader.SeenRootBridge || Reader.SeenMemoryMap ||
      (Reader.Current != nullptr && !Reader.Current->Known) ||
      !ReadRange(Split.Items[1], ADDRESS_DIGITS, Range.Range.Base, Range.Range.Limit) ||
      !(Is(Split.Items[2], "mem32") || Is(Split.Items[2], "mem64")) ||
      (Split.Count == 4 && !Is(Split.Items[3], "prefetchable"))) {
    return FactsLineKind::Malformed;
  }
  Range.Mem64 = Is(Split.Items[2], "mem64");
  Range.Prefetchable = Split.Count == 4;
  if (Reader.Current != nullptr) {
    AddAllocatedRange(*Reader.Facts, *Reader.Current, Range);
  }
  return FactsLineKind::Fact;
}

// "@memory-space-map [absent|unknown]".
FactsLineKind ReadMemoryMap(FactsReader &Reader, const Words &Split) {
  if (Split.Count > 2 || Reader.SeenMemoryMap) {
    return FactsLineKind::Malformed;
  }
  MemoryMapState State = MemoryMapState::Read;
  if (Split.Count == 2) {
    if (Is(Split.Items[1], "absent")) {
      State = MemoryMapState::Absent;
    } else if (Is(Split.Items[1], "unknown")) {
      State = MemoryMapState::Unknown;
    } else {
      return FactsLineKind::Malformed;
    }
  }
  Reader.SeenMemoryMap = true;
  Reader.Facts->MemoryMap = State;
  return FactsLineKind::Fact;
}

// "@mmio BASE-LIMIT free|allocated", inside a map that was read.
FactsLineKind ReadMmio(FactsReader &Reader, const Words &Split) {
  AddressRange Range = {};
  if (Split.Count != 3 || !Reader.SeenMemoryMap ||
      Reader.Facts->MemoryMap == MemoryMapState::Absent ||
      !ReadRange(Split.Items[1], ADDRESS_DIGITS, Range.Base, Range.Limit) ||
      !(Is(Split.Items[2], "free") || Is(Split.Items[2], "allocated"))) {
    return FactsLineKind::Malformed;
  }
  if (Reader.Facts->MemoryMap == MemoryMapState::Read) {
    AddMmioEntry(*Reader.Facts, Range, Is(Split.Items[2], "allocated"));
  }
  return FactsLineKind::Fact;
}

// Appends "BASE-LIMIT" with 16 digits each.
void AppendRange(TextBuffer &Line, AddressRange Range) {
  AppendHex(Line, Range.Base, ADDRESS_DIGITS);
  AppendText(Line, "-");
  AppendHex(Line, Range.Limit, ADDRESS_DIGITS);
}

} // namespace

FactsReader StartFactsReader(FirmwareFacts &Facts) {
  ClearFirmwareFacts(Facts);
  return {&Facts, nullptr, false, false};
}

FactsLineKind ReadFactsLine(FactsReader &Reader, const char *Line, UINTN Length) {
  if (Length > 0 && Line[Length - 1] == '\n') {
    --Length;
  }
  if (Length > 0 && Line[Length - 1] == '\r') {
    --Length;
  }
  if (Length == 0 || Line[0] != '@') {
    return FactsLineKind::NotFacts;
  }
  Words Split;
  if (!SplitWords(Line, Length, Split)) {
    return FactsLineKind::Malformed;
  }
  const Word &Keyword = Split.Items[0];
  if (Is(Keyword, "@rbar-survey-report")) {
    return Split.Count == 2 && Is(Split.Items[1], "1") ? FactsLineKind::ReportStart
                                                       : FactsLineKind::Malformed;
  }
  if (Is(Keyword, "@end")) {
    return Split.Count == 1 ? FactsLineKind::ReportEnd : FactsLineKind::Malformed;
  }
  if (Is(Keyword, "@root-bridge")) {
    return ReadRootBridge(Reader, Split);
  }
  if (Is(Keyword, "@allocated")) {
    return ReadAllocated(Reader, Split);
  }
  if (Is(Keyword, "@memory-space-map")) {
    return ReadMemoryMap(Reader, Split);
  }
  if (Is(Keyword, "@mmio")) {
    return ReadMmio(Reader, Split);
  }
  return FactsLineKind::Malformed;
}

void WriteFactsLines(const FirmwareFacts &Facts, void (*Emit)(void *Context, const char *Line),
                     void *Context) {
  char Text[LINE_CHARS];
  for (UINTN Index = 0; Index < Facts.RootBridgeCount; ++Index) {
    const RootBridgeFacts &Bridge = Facts.RootBridges[Index];
    TextBuffer Line = MakeTextBuffer(Text, sizeof Text);
    AppendText(Line, "@root-bridge ");
    AppendHex(Line, Bridge.Segment, SEGMENT_MIN_DIGITS);
    AppendText(Line, " ");
    AppendHex(Line, Bridge.BusFirst, BUS_DIGITS);
    AppendText(Line, "-");
    AppendHex(Line, Bridge.BusLast, BUS_DIGITS);
    AppendText(Line, Bridge.Known ? "" : " unknown");
    Emit(Context, Text);
    for (UINTN Range = 0; Bridge.Known && Range < Bridge.AllocatedCount; ++Range) {
      const AllocatedRange &Allocated = Bridge.Allocated[Range];
      Line = MakeTextBuffer(Text, sizeof Text);
      AppendText(Line, "@allocated ");
      AppendRange(Line, Allocated.Range);
      AppendText(Line, Allocated.Mem64 ? " mem64" : " mem32");
      AppendText(Line, Allocated.Prefetchable ? " prefetchable" : "");
      Emit(Context, Text);
    }
  }
  switch (Facts.MemoryMap) {
  case MemoryMapState::NotGiven:
    return;
  case MemoryMapState::Absent:
    Emit(Context, "@memory-space-map absent");
    return;
  case MemoryMapState::Unknown:
    Emit(Context, "@memory-space-map unknown");
    return;
  case MemoryMapState::Read:
    break;
  }
  Emit(Context, "@memory-space-map");
  for (UINTN Index = 0; Index < Facts.MmioCount; ++Index) {
    TextBuffer Line = MakeTextBuffer(Text, sizeof Text);
    AppendText(Line, "@mmio ");
    AppendRange(Line, Facts.Mmio[Index].Range);
    AppendText(Line, Facts.Mmio[Index].Allocated ? " allocated" : " free");
    Emit(Context, Text);
  }
}
