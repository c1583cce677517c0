// The root bridges' apertures: maximal runs of contiguous memory-mapped I/O entries of the
// memory-space map. A run belongs to a root bridge when it holds one of that bridge's allocated
// ranges; a run holding none belongs to the only root bridge when there is one, and otherwise
// its owner is not said. Capacity and what is free come from the map alone: a root bridge's
// allocated ranges say where things were placed, never how much more fits.
#pragma once

#include "verdict/FirmwareFacts.h"
#include "verdict/TextBuffer.h"

// The owner of a run that the map does not attribute.
inline constexpr UINTN OWNER_NOT_SAID = ~static_cast<UINTN>(0);

struct Aperture {
  AddressRange Range;
  // Bytes of the run in entries that are free, and in entries that are allocated.
  UINT64 Free;
  UINT64 InUse;
  // Index of the owning root bridge in FirmwareFacts::RootBridges, or OWNER_NOT_SAID.
  UINTN Owner;
  // Index of the run's first entry in the sorted entries, and their count.
  UINTN FirstEntry;
  UINTN EntryCount;
};

struct ApertureModel {
  // The map's entries sorted by base address.
  MmioEntry Entries[MAX_MMIO_ENTRIES];
  UINTN EntryCount;
  Aperture Runs[MAX_MMIO_ENTRIES];
  UINTN RunCount;
  // The map was read, whole and well formed (no overlapping entries, nothing left out).
  bool Usable;
};

// Builds the runs of Facts' map and their owners.
void BuildApertures(const FirmwareFacts &Facts, ApertureModel &Model);

// True for a run that lies at or above 4 GB (a 64-bit aperture).
bool IsAbove4G(const Aperture &Run);

// What the firmware's facts say about a size on a root bus.
enum class ApertureAnswer : UINT8 {
  // No firmware facts, or no root bridge of them holds the bus.
  NotGiven,
  // The firmware publishes no memory-space map.
  MapAbsent,
  // The map or the root bridge's descriptors could not be read or were malformed.
  MapUnknown,
  // No run that may belong to the root bridge holds the size, but a run whose owner is not
  // said is there and the size needs it: which bridge it serves is not known.
  OwnerNotSaid,
  // The size needs 64-bit placement and no run at or above 4 GB may belong to the root bridge.
  NoWindowAbove4G,
  // No run the root bridge may own holds the size, but some of its allocated ranges lie outside
  // every run: the map does not show all of its apertures, so whether the size fits is unknown.
  OutsideMap,
  // A run of the root bridge holds a Size-aligned block of Size in free space (with the BAR's
  // own current range counted free, as a resize gives it back).
  Holds,
  // The runs that may belong to the root bridge are there and none holds it.
  TooSmall,
};

// The question asked of the apertures: a BAR on a root bus and the size proposed for it.
struct ApertureQuestion {
  UINT32 Segment;
  UINT8 RootBus;
  UINT64 Size;
  // The BAR decodes 64-bit addresses (it may be placed at or above 4 GB).
  bool Bar64;
  // The BAR's current range, which a resize gives back; Limit below Base when not placed.
  AddressRange Current;
};

struct ApertureVerdict {
  ApertureAnswer Answer;
  // The run the answer speaks of (Holds, TooSmall, OwnerNotSaid), else null.
  const Aperture *Run;
  // Bytes of the current range that lie in Run (said as "after the ... in use").
  UINT64 CurrentInRun;
};

// True when one of root bridge Bridge's allocated ranges (only those reaching 4 GB or above when
// Above4GOnly) lies in no run of Model: the map does not show that aperture.
bool AllocatedOutsideMap(const FirmwareFacts &Facts, const ApertureModel &Model, UINTN Bridge,
                         bool Above4GOnly);

// The index of the root bridge of Facts whose segment and bus range hold Segment:Bus, or
// OWNER_NOT_SAID.
UINTN FindRootBridge(const FirmwareFacts &Facts, UINT32 Segment, UINT8 Bus);

// Answers Question from Facts and Model.
ApertureVerdict JudgeAperture(const FirmwareFacts &Facts, const ApertureModel &Model,
                              const ApertureQuestion &Question);

// Appends the answer in words, for a verdict line: "the root bridge's 64-bit aperture has 24 GB
// free, enough for 32 GB after the 8 GB in use", "no memory window above 4 GB (Above 4G
// decoding is off or not offered)", "whether 32 GB fits is unknown: ...".
void AppendApertureAnswer(TextBuffer &Out, const ApertureVerdict &Verdict, UINT64 Size);

// The JSON token of an answer: "not-given", "map-absent", "map-unknown", "owner-not-said",
// "no-window-above-4g", "outside-map", "holds", "too-small".
const char *ApertureAnswerToken(ApertureAnswer Answer);

// Appends root bridge Index's apertures in words, one or two lines separated by "\n" (no final
// line end): its segment and buses with the 32-bit aperture, then the 64-bit one, "no memory
// window above 4 GB: Above 4G decoding is off or not offered", or why the capacity is unknown.
void AppendRootBridgeApertures(TextBuffer &Out, const FirmwareFacts &Facts,
                               const ApertureModel &Model, UINTN Index);

// Appends the runs whose owner is not said, one line ("apertures the memory-space map does not
// attribute: ..."); appends nothing and returns false when there are none.
bool AppendUnattributedApertures(TextBuffer &Out, const ApertureModel &Model);
