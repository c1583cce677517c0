// The memory-space map's memory-mapped I/O entries gathered into runs, each run attributed to
// the root bridge whose allocated ranges it holds, and the room a run has for a BAR size.
#include "verdict/Apertures.h"

#include "verdict/BridgePath.h"
#include "verdict/PciHeaderRegisters.h"

namespace {

// The bytes of Range; UINT64_MAX for all 2^64 addresses.
UINT64 RangeBytes(AddressRange Range) {
  const UINT64 Span = Range.Limit - Range.Base;
  return Span == UINT64_MAX ? UINT64_MAX : Span + 1;
}

// A + B, held at UINT64_MAX.
UINT64 AddBytes(UINT64 A, UINT64 B) {
  return A > UINT64_MAX - B ? UINT64_MAX : A + B;
}

// True when Next starts right after Previous ends.
bool Adjoins(AddressRange Previous, AddressRange Next) {
  return Previous.Limit != UINT64_MAX && Next.Base == Previous.Limit + 1;
}

// True when Inner lies within Outer.
bool Contains(AddressRange Outer, AddressRange Inner) {
  return Inner.Base >= Outer.Base && Inner.Limit <= Outer.Limit;
}

// Copies Facts' entries into Model sorted by base; false when two overlap.
bool SortEntries(const FirmwareFacts &Facts, ApertureModel &Model) {
  Model.EntryCount = 0;
  for (UINTN Index = 0; Index < Facts.MmioCount && Index < MAX_MMIO_ENTRIES; ++Index) {
    UINTN At = Model.EntryCount;
    while (At > 0 && Model.Entries[At - 1].Range.Base > Facts.Mmio[Index].Range.Base) {
      Model.Entries[At] = Model.Entries[At - 1];
      --At;
    }
    Model.Entries[At] = Facts.Mmio[Index];
    ++Model.EntryCount;
  }
  for (UINTN Index = 1; Index < Model.EntryCount; ++Index) {
    if (Model.Entries[Index].Range.Base <= Model.Entries[Index - 1].Range.Limit) {
      return false;
    }
  }
  return true;
}

// The root bridge whose allocated ranges Run holds: one bridge, else OWNER_NOT_SAID; a run that
// holds none belongs to the only root bridge when there is one.
UINTN FindOwner(const FirmwareFacts &Facts, AddressRange Run) {
  UINTN Owner = OWNER_NOT_SAID;
  for (UINTN Bridge = 0; Bridge < Facts.RootBridgeCount; ++Bridge) {
    const RootBridgeFacts &Root = Facts.RootBridges[Bridge];
    for (UINTN Index = 0; Index < Root.AllocatedCount; ++Index) {
      if (!Contains(Run, Root.Allocated[Index].Range)) {
        continue;
      }
      if (Owner != OWNER_NOT_SAID && Owner != Bridge) {
        return OWNER_NOT_SAID;
      }
      Owner = Bridge;
    }
  }
  if (Owner == OWNER_NOT_SAID && Facts.RootBridgeCount == 1 && !Facts.Overflow) {
    return 0;
  }
  return Owner;
}

// The part of Range that lies in Within; Limit below Base when none does.
AddressRange Intersect(AddressRange Range, AddressRange Within) {
  const UINT64 Base = Range.Base > Within.Base ? Range.Base : Within.Base;
  const UINT64 Limit = Range.Limit < Within.Limit ? Range.Limit : Within.Limit;
  if (Limit < Base) {
    return {1, 0};
  }
  return {Base, Limit};
}

// True when Stretch holds a Size-aligned block of Size.
bool StretchHolds(AddressRange Stretch, UINT64 Size) {
  BridgeWindow Window;
  Window.Enabled = true;
  Window.Base = Stretch.Base;
  Window.Limit = Stretch.Limit;
  return WindowHoldsAligned(Window, Size);
}

// True when Run has a Size-aligned block of Size in its free entries, the BAR's current range
// counted free as a resize gives it back.
bool RunHolds(const ApertureModel &Model, const Aperture &Run, AddressRange Current, UINT64 Size) {
  bool Open = false;
  AddressRange Stretch = {0, 0};
  for (UINTN Index = Run.FirstEntry; Index < Run.FirstEntry + Run.EntryCount; ++Index) {
    const MmioEntry &Entry = Model.Entries[Index];
    const AddressRange Piece = Entry.Allocated ? Intersect(Current, Entry.Range) : Entry.Range;
    if (Piece.Limit < Piece.Base) {
      continue;
    }
    if (Open && Adjoins(Stretch, Piece)) {
      Stretch.Limit = Piece.Limit;
      continue;
    }
    if (Open && StretchHolds(Stretch, Size)) {
      return true;
    }
    Stretch = Piece;
    Open = true;
  }
  return Open && StretchHolds(Stretch, Size);
}

// True when Run may belong to root bridge Bridge: it does, or its owner is not said.
bool MayBelong(const Aperture &Run, UINTN Bridge) {
  return Run.Owner == Bridge || Run.Owner == OWNER_NOT_SAID;
}

} // namespace

bool IsAbove4G(const Aperture &Run) {
  return Run.Range.Limit >= FOUR_GB;
}

void BuildApertures(const FirmwareFacts &Facts, ApertureModel &Model) {
  Model.RunCount = 0;
  Model.Usable = Facts.MemoryMap == MemoryMapState::Read && SortEntries(Facts, Model);
  if (!Model.Usable) {
    Model.EntryCount = 0;
    return;
  }
  for (UINTN Index = 0; Index < Model.EntryCount; ++Index) {
    const MmioEntry &Entry = Model.Entries[Index];
    if (Model.RunCount == 0 || !Adjoins(Model.Runs[Model.RunCount - 1].Range, Entry.Range)) {
      Model.Runs[Model.RunCount++] = {Entry.Range, 0, 0, OWNER_NOT_SAID, Index, 0};
    }
    Aperture &Run = Model.Runs[Model.RunCount - 1];
    Run.Range.Limit = Entry.Range.Limit;
    ++Run.EntryCount;
    UINT64 &Sum = Entry.Allocated ? Run.InUse : Run.Free;
    Sum = AddBytes(Sum, RangeBytes(Entry.Range));
  }
  for (UINTN Index = 0; Index < Model.RunCount; ++Index) {
    Model.Runs[Index].Owner = FindOwner(Facts, Model.Runs[Index].Range);
  }
}

bool AllocatedOutsideMap(const FirmwareFacts &Facts, const ApertureModel &Model, UINTN Bridge,
                         bool Above4GOnly) {
  const RootBridgeFacts &Root = Facts.RootBridges[Bridge];
  for (UINTN Index = 0; Index < Root.AllocatedCount; ++Index) {
    const AddressRange Range = Root.Allocated[Index].Range;
    if (Above4GOnly && Range.Limit < FOUR_GB) {
      continue;
    }
    bool Inside = false;
    for (UINTN Run = 0; Run < Model.RunCount && !Inside; ++Run) {
      Inside = Contains(Model.Runs[Run].Range, Range);
    }
    if (!Inside) {
      return true;
    }
  }
  return false;
}

UINTN FindRootBridge(const FirmwareFacts &Facts, UINT32 Segment, UINT8 Bus) {
  for (UINTN Index = 0; Index < Facts.RootBridgeCount; ++Index) {
    const RootBridgeFacts &Bridge = Facts.RootBridges[Index];
    if (Bridge.Segment == Segment && Bus >= Bridge.BusFirst && Bus <= Bridge.BusLast) {
      return Index;
    }
  }
  return OWNER_NOT_SAID;
}

ApertureVerdict JudgeAperture(const FirmwareFacts &Facts, const ApertureModel &Model,
                              const ApertureQuestion &Question) {
  ApertureVerdict Verdict = {ApertureAnswer::NotGiven, nullptr, 0};
  const UINTN Bridge = FindRootBridge(Facts, Question.Segment, Question.RootBus);
  if (Bridge == OWNER_NOT_SAID) {
    return Verdict;
  }
  if (Facts.MemoryMap == MemoryMapState::Absent) {
    Verdict.Answer = ApertureAnswer::MapAbsent;
    return Verdict;
  }
  if (!Model.Usable) {
    Verdict.Answer = ApertureAnswer::MapUnknown;
    return Verdict;
  }
  const Aperture *Unsaid = nullptr;
  const Aperture *Largest = nullptr;
  bool AnyAbove4G = false;
  for (UINTN Index = 0; Index < Model.RunCount; ++Index) {
    const Aperture &Run = Model.Runs[Index];
    if (!MayBelong(Run, Bridge) || (!Question.Bar64 && IsAbove4G(Run))) {
      continue;
    }
    AnyAbove4G = AnyAbove4G || IsAbove4G(Run);
    if (RunHolds(Model, Run, Question.Current, Question.Size)) {
      if (Run.Owner == Bridge) {
        Verdict.Answer = ApertureAnswer::Holds;
        Verdict.Run = &Run;
        break;
      }
      Unsaid = Unsaid == nullptr ? &Run : Unsaid;
    }
    if (Run.Owner == Bridge &&
        (Largest == nullptr || RangeBytes(Run.Range) > RangeBytes(Largest->Range))) {
      Largest = &Run;
    }
  }
  // A run of the bridge's own holds the size; else one whose owner is not said might; else an
  // aperture of the bridge the map leaves out might; else the size needs a window above 4 GB
  // that none may give; else nothing the bridge may own holds it.
  if (Verdict.Answer != ApertureAnswer::Holds) {
    if (Unsaid != nullptr) {
      Verdict.Answer = ApertureAnswer::OwnerNotSaid;
      Verdict.Run = Unsaid;
    } else if (AllocatedOutsideMap(Facts, Model, Bridge, false)) {
      Verdict.Answer = ApertureAnswer::OutsideMap;
      return Verdict;
    } else if (Question.Size >= FOUR_GB && !AnyAbove4G) {
      Verdict.Answer = ApertureAnswer::NoWindowAbove4G;
      return Verdict;
    } else {
      Verdict.Answer = ApertureAnswer::TooSmall;
      Verdict.Run = Largest;
    }
  }
  if (Verdict.Run != nullptr && Question.Current.Base <= Question.Current.Limit) {
    const AddressRange Inside = Intersect(Question.Current, Verdict.Run->Range);
    Verdict.CurrentInRun = Inside.Limit < Inside.Base ? 0 : RangeBytes(Inside);
  }
  return Verdict;
}
