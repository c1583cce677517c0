// The firmware's apertures in words: the answer for one proposal, and each root bridge's
// apertures for the facts shown before the report.
#include "verdict/Apertures.h"

#include "verdict/PciHeaderRegisters.h"

namespace {

// Hex digits of an address below 4 GB and of one above, as lspci shows windows.
constexpr UINTN DIGITS_32 = 8;
constexpr UINTN DIGITS_64 = 16;
constexpr UINTN SEGMENT_DIGITS = 4;
constexpr UINTN BUS_DIGITS = 2;

// "32-bit" or "64-bit": the class of a run.
const char *RunWidth(const Aperture &Run) {
  return IsAbove4G(Run) ? "64-bit" : "32-bit";
}

// "00000000c0000000-00000000fbffffff": a run's bounds.
void AppendRange(TextBuffer &Out, AddressRange Range) {
  const UINTN Digits = Range.Limit >= FOUR_GB ? DIGITS_64 : DIGITS_32;
  AppendHex(Out, Range.Base, Digits);
  AppendText(Out, "-");
  AppendHex(Out, Range.Limit, Digits);
}

// The bytes of Range; UINT64_MAX for all 2^64 addresses.
UINT64 RangeBytes(AddressRange Range) {
  const UINT64 Span = Range.Limit - Range.Base;
  return Span == UINT64_MAX ? UINT64_MAX : Span + 1;
}

// "c0000000-fbffffff (1008 MB, 943 MB free)".
void AppendRun(TextBuffer &Out, const Aperture &Run) {
  AppendRange(Out, Run.Range);
  AppendText(Out, " (");
  AppendByteSize(Out, RangeBytes(Run.Range));
  AppendText(Out, ", ");
  if (Run.Free == 0) {
    AppendText(Out, "nothing");
  } else {
    AppendByteSize(Out, Run.Free);
  }
  AppendText(Out, " free)");
}

// "has 24 GB free beside the BAR's 8 GB in use".
void AppendRoom(TextBuffer &Out, const ApertureVerdict &Verdict) {
  AppendText(Out, " has ");
  if (Verdict.Run->Free == 0) {
    AppendText(Out, "nothing");
  } else {
    AppendByteSize(Out, Verdict.Run->Free);
  }
  AppendText(Out, " free");
  if (Verdict.CurrentInRun != 0) {
    AppendText(Out, " beside the BAR's ");
    AppendByteSize(Out, Verdict.CurrentInRun);
    AppendText(Out, " in use");
  }
}

// "an S-aligned block of S".
void AppendBlock(TextBuffer &Out, UINT64 Size) {
  AppendText(Out, "a ");
  AppendByteSize(Out, Size);
  AppendText(Out, "-aligned block of ");
  AppendByteSize(Out, Size);
}

// The largest run of root bridge Bridge at or above 4 GB when Above, else below; null if none.
const Aperture *LargestRun(const ApertureModel &Model, UINTN Bridge, bool Above) {
  const Aperture *Largest = nullptr;
  for (UINTN Index = 0; Index < Model.RunCount; ++Index) {
    const Aperture &Run = Model.Runs[Index];
    if (Run.Owner == Bridge && IsAbove4G(Run) == Above &&
        (Largest == nullptr || RangeBytes(Run.Range) > RangeBytes(Largest->Range))) {
      Largest = &Run;
    }
  }
  return Largest;
}

// True when a run whose owner is not said lies at or above 4 GB.
bool UnsaidAbove4G(const ApertureModel &Model) {
  for (UINTN Index = 0; Index < Model.RunCount; ++Index) {
    if (Model.Runs[Index].Owner == OWNER_NOT_SAID && IsAbove4G(Model.Runs[Index])) {
      return true;
    }
  }
  return false;
}

// "allocated 17 MB below 4 GB, nothing above 4 GB": where the firmware placed the bridge's
// memory.
void AppendAllocated(TextBuffer &Out, const RootBridgeFacts &Bridge) {
  if (!Bridge.Known) {
    AppendText(Out, "its resources could not be read");
    return;
  }
  UINT64 Below = 0;
  UINT64 Above = 0;
  for (UINTN Index = 0; Index < Bridge.AllocatedCount; ++Index) {
    const AddressRange Range = Bridge.Allocated[Index].Range;
    UINT64 &Sum = Range.Limit >= FOUR_GB ? Above : Below;
    const UINT64 Bytes = RangeBytes(Range);
    Sum = Sum > UINT64_MAX - Bytes ? UINT64_MAX : Sum + Bytes;
  }
  AppendText(Out, "allocated ");
  if (Below != 0) {
    AppendByteSize(Out, Below);
  } else {
    AppendText(Out, "nothing");
  }
  AppendText(Out, " below 4 GB, ");
  if (Above != 0) {
    AppendByteSize(Out, Above);
  } else {
    AppendText(Out, "nothing");
  }
  AppendText(Out, " above 4 GB");
}

} // namespace

void AppendApertureAnswer(TextBuffer &Out, const ApertureVerdict &Verdict, UINT64 Size) {
  switch (Verdict.Answer) {
  case ApertureAnswer::Holds:
    AppendText(Out, "the root bridge's ");
    AppendText(Out, RunWidth(*Verdict.Run));
    AppendText(Out, " aperture");
    AppendRoom(Out, Verdict);
    AppendText(Out, ", enough for ");
    AppendBlock(Out, Size);
    return;
  case ApertureAnswer::TooSmall:
    if (Verdict.Run == nullptr) {
      AppendText(Out, "the memory-space map shows no aperture of the root bridge, so ");
      AppendByteSize(Out, Size);
      AppendText(Out, " does not fit");
      return;
    }
    AppendText(Out, "the root bridge's ");
    AppendText(Out, RunWidth(*Verdict.Run));
    AppendText(Out, " aperture");
    AppendRoom(Out, Verdict);
    AppendText(Out, ", too little for ");
    AppendBlock(Out, Size);
    return;
  case ApertureAnswer::NoWindowAbove4G:
    AppendText(Out, "no memory window above 4 GB (Above 4G decoding is off or not offered), so ");
    AppendByteSize(Out, Size);
    AppendText(Out, " does not fit");
    return;
  case ApertureAnswer::OwnerNotSaid:
    AppendText(Out, "whether ");
    AppendByteSize(Out, Size);
    AppendText(Out, " fits is unknown: the ");
    AppendText(Out, RunWidth(*Verdict.Run));
    AppendText(Out, " aperture ");
    AppendRange(Out, Verdict.Run->Range);
    AppendText(Out, " holds it, but the memory-space map does not say which root bridge it "
                    "serves");
    return;
  case ApertureAnswer::MapAbsent:
  case ApertureAnswer::MapUnknown:
  case ApertureAnswer::OutsideMap:
  case ApertureAnswer::NotGiven:
    break;
  }
  AppendText(Out, "whether ");
  AppendByteSize(Out, Size);
  AppendText(Out, " fits is unknown");
  if (Verdict.Answer == ApertureAnswer::MapAbsent) {
    AppendText(Out, ": the firmware publishes no memory-space map");
  } else if (Verdict.Answer == ApertureAnswer::MapUnknown) {
    AppendText(Out, ": the firmware's memory-space map could not be read");
  } else if (Verdict.Answer == ApertureAnswer::OutsideMap) {
    AppendText(Out, ": the memory-space map leaves out ranges the root bridge was given");
  }
}

const char *ApertureAnswerToken(ApertureAnswer Answer) {
  switch (Answer) {
  case ApertureAnswer::MapAbsent:
    return "map-absent";
  case ApertureAnswer::MapUnknown:
    return "map-unknown";
  case ApertureAnswer::OwnerNotSaid:
    return "owner-not-said";
  case ApertureAnswer::NoWindowAbove4G:
    return "no-window-above-4g";
  case ApertureAnswer::OutsideMap:
    return "outside-map";
  case ApertureAnswer::Holds:
    return "holds";
  case ApertureAnswer::TooSmall:
    return "too-small";
  case ApertureAnswer::NotGiven:
    break;
  }
  return "not-given";
}

void AppendRootBridgeApertures(TextBuffer &Out, const FirmwareFacts &Facts,
                               const ApertureModel &Model, UINTN Index) {
  const RootBridgeFacts &Bridge = Facts.RootBridges[Index];
  AppendText(Out, "root bridge ");
  AppendHex(Out, Bridge.Segment, SEGMENT_DIGITS);
  AppendText(Out, " buses ");
  AppendHex(Out, Bridge.BusFirst, BUS_DIGITS);
  AppendText(Out, "-");
  AppendHex(Out, Bridge.BusLast, BUS_DIGITS);
  AppendText(Out, ": ");
  AppendAllocated(Out, Bridge);
  AppendText(Out, "\n  ");
  if (Facts.MemoryMap == MemoryMapState::Absent) {
    AppendText(Out, "apertures unknown: the firmware publishes no memory-space map");
    return;
  }
  if (!Model.Usable) {
    AppendText(Out, "apertures unknown: the firmware's memory-space map could not be read");
    return;
  }
  const Aperture *Low = LargestRun(Model, Index, false);
  const Aperture *High = LargestRun(Model, Index, true);
  if (Low != nullptr) {
    AppendText(Out, "32-bit aperture ");
    AppendRun(Out, *Low);
    AppendText(Out, "; ");
  }
  if (High != nullptr) {
    AppendText(Out, "64-bit aperture ");
    AppendRun(Out, *High);
  } else if (UnsaidAbove4G(Model)) {
    AppendText(Out, "64-bit aperture not attributed by the memory-space map");
  } else if (AllocatedOutsideMap(Facts, Model, Index, true)) {
    AppendText(Out, "64-bit aperture not in the memory-space map, which leaves out what the root "
                    "bridge was given above 4 GB");
  } else {
    AppendText(Out, "no memory window above 4 GB: Above 4G decoding is off or not offered");
  }
}

bool AppendUnattributedApertures(TextBuffer &Out, const ApertureModel &Model) {
  bool Any = false;
  for (UINTN Index = 0; Index < Model.RunCount; ++Index) {
    const Aperture &Run = Model.Runs[Index];
    if (Run.Owner != OWNER_NOT_SAID) {
      continue;
    }
    AppendText(Out, Any ? ", " : "apertures the memory-space map does not attribute: ");
    AppendRun(Out, Run);
    Any = true;
  }
  return Any;
}
