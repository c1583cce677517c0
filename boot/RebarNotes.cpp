// Rebar notes: the capability found as the driver finds it, the kept entry, and the words.
#include "boot/RebarNotes.h"

#include "boot/FactsScreen.h"
#include "driver/PciConfigAccess.h"
#include "driver/PciRegisters.h"
#include "driver/RebarEvaluation.h"
#include "driver/RebarRegisters.h"
#include "driver/RegisterField.h"
#include "verdict/ReportNotes.h"

namespace {

// What a read that failed leaves: all ones, as an absent register reads.
constexpr UINT32 ABSENT_DWORD = 0xFFFFFFFFU;
// The last offset a dword can be read at in extended configuration space.
constexpr UINT64 LAST_DWORD_OFFSET = 0xFFC;
constexpr CHAR16 RBAR_SIZES_WORDS[] = u"RBarSizes ";
constexpr UINT32 DECIMAL_BASE = 10;
constexpr UINT64 MASK_LIMIT = 0xFFFFFFFFULL;
// Characters of a note, with room to spare.
constexpr UINTN NOTE_CHARS = 256;

struct NotesState {
  bool Decoded;
  RebarEntries Entries;
  // RBarSizes lines of the function so far.
  UINTN Lines;
  // The entry of the last RBarSizes line, until its notes are written.
  bool Kept;
  RebarEntryRead Entry;
};
constinit NotesState State = {};

UINT32 Read32(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge, PciConfigAddress Base, UINT64 Offset) {
  UINT32 Value = ABSENT_DWORD;
  if (EfiIsError(Bridge->Pci.Read(Bridge, EfiPciWidthUint32, PciRegisterAddress(Base, Offset), 1,
                                  &Value))) {
    Value = ABSENT_DWORD;
  }
  return Value;
}

// Offset of the Resizable BAR capability, or 0: the extended chain from 0x100, within the
// driver's budget.
UINT64 FindRebar(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge, PciConfigAddress Base) {
  UINT64 Current = PCI_EXTENDED_CAPABILITY_START;
  UINT32 Header = Read32(Bridge, Base, Current);
  if (Header == PCI_EXT_CAP_HEADER_NONE || Header == PCI_EXT_CAP_HEADER_ABSENT) {
    return 0;
  }
  for (INT32 Budget = PCI_EXT_CAP_WALK_BUDGET - 1;; --Budget) {
    if (RegisterField(Header, PCI_EXT_CAP_ID_MASK) == PCI_EXT_CAP_ID_REBAR) {
      return Current;
    }
    const UINT64 Next = RegisterField(Header, PCI_EXT_CAP_NEXT_MASK) & PCI_EXT_CAP_NEXT_OFFSET_MASK;
    if (Next < PCI_EXTENDED_CAPABILITY_START || Next > LAST_DWORD_OFFSET || Budget <= 0) {
      return 0;
    }
    Header = Read32(Bridge, Base, Next);
    Current = Next;
  }
}

// Writes one note that Append builds.
template <typename Writer>
void WriteNote(Writer Append) {
  char Text[NOTE_CHARS];
  TextBuffer Out = MakeTextBuffer(Text, sizeof(Text));
  Append(Out);
  ReportWriteNarrowLines(Text);
}

} // namespace

RebarEntries ReadRebarEntries(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge, UINT32 Bus, UINT32 Device,
                              UINT32 Function, UINT16 VendorId, UINT16 DeviceId) {
  RebarEntries Found = {};
  const PciConfigAddress Base = PciFunctionBase(Bus, Device, Function);
  const UINT64 Rebar = FindRebar(Bridge, Base);
  if (Rebar == 0) {
    return Found;
  }
  const UINT32 Count =
      RegisterField(Read32(Bridge, Base, Rebar + REBAR_CONTROL), REBAR_CONTROL_ENTRY_COUNT_MASK);
  for (UINT32 Bar = REBAR_FIRST_BAR; Bar <= REBAR_LAST_BAR; ++Bar) {
    for (UINT32 Entry = 0; Entry < Count; ++Entry) {
      const UINT64 Offset = Rebar + REBAR_ENTRY_STRIDE * Entry;
      const UINT32 Control = Read32(Bridge, Base, Offset + REBAR_CONTROL);
      if (RegisterField(Control, REBAR_CONTROL_BAR_INDEX_MASK) != Bar) {
        continue;
      }
      const UINT32 Capability = Read32(Bridge, Base, Offset + REBAR_CAPABILITY);
      const UINT32 Mask = RebarSizeMask(VendorId, DeviceId, static_cast<UINT8>(Bar), Capability);
      if (Mask != 0) {
        Found.Entries[Found.Count++] = {
            Bar, Mask, RegisterField(Control, REBAR_CONTROL_BAR_SIZE_MASK), Capability};
      }
      break;
    }
  }
  return Found;
}

void StartRebarNotes() {
  State = {};
}

void NoteRbarSizesLine(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge, const FunctionHeader &Function,
                       UINT16 VendorId, UINT16 DeviceId, UINT32 Mask) {
  if (!State.Decoded) {
    State.Entries = ReadRebarEntries(Bridge, Function.Bus, Function.Device, Function.Function,
                                     VendorId, DeviceId);
    State.Decoded = true;
  }
  const UINTN Nth = State.Lines++;
  State.Kept = Nth < State.Entries.Count && State.Entries.Entries[Nth].Mask == Mask;
  if (State.Kept) {
    State.Entry = State.Entries.Entries[Nth];
  }
}

void WriteRebarNotes(bool Proposed) {
  if (!State.Kept) {
    return;
  }
  State.Kept = false;
  const RebarEntryRead Entry = State.Entry;
  if (!Proposed) {
    WriteNote([&](TextBuffer &Out) {
      AppendNothingToPropose(Out, Entry.Bar, Entry.Mask, Entry.Current);
    });
  }
  const UINT32 Advertised =
      (Entry.Capability & REBAR_CAPABILITY_SIZES_MASK) >> REBAR_CAPABILITY_SIZES_SHIFT;
  if (Advertised != Entry.Mask) {
    WriteNote([&](TextBuffer &Out) { AppendWidenedSizes(Out, Entry.Bar, Advertised, Entry.Mask); });
  }
  if (const UINT32 LeftOut = SizesLeftOut(Entry.Capability); LeftOut != 0) {
    WriteNote([&](TextBuffer &Out) { AppendSizesLeftOut(Out, Entry.Bar, LeftOut); });
  }
}

bool ParseRbarSizesLine(const CHAR16 *Text, UINTN Length, UINT32 &Mask) {
  if (Length > 0 && Text[Length - 1] == u'\n') {
    --Length;
    if (Length > 0 && Text[Length - 1] == u'\r') {
      --Length;
    }
  }
  constexpr UINTN WORDS = sizeof(RBAR_SIZES_WORDS) / sizeof(CHAR16) - 1;
  if (Length <= WORDS) {
    return false;
  }
  for (UINTN At = 0; At < WORDS; ++At) {
    if (Text[At] != RBAR_SIZES_WORDS[At]) {
      return false;
    }
  }
  UINT64 Value = 0;
  for (UINTN At = WORDS; At < Length; ++At) {
    if (Text[At] < u'0' || Text[At] > u'9') {
      return false;
    }
    Value = Value * DECIMAL_BASE + static_cast<UINT64>(Text[At] - u'0');
    if (Value > MASK_LIMIT) {
      return false;
    }
  }
  Mask = static_cast<UINT32>(Value);
  return true;
}
