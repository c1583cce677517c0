// Capability discovery. Neither walk trusts the chain: both are bounded, and a failed or
// absent read ends them rather than feeding them undefined values.
#include "driver/CapabilityWalk.h"

#include "driver/PciRegisters.h"
#include "driver/RegisterField.h"

bool HasPciExpressCapability(PciConfigAddress Base) {
  // A failed read leaves what an absent function reads.
  UINT8 Pointer = PCI_CAPABILITY_POINTER_ABSENT;
  PciConfigRead8(Base, PCI_CAPABILITY_POINTER, &Pointer);

  // Pointers are used as read: the status register's capability-list bit is not consulted and
  // the two low bits are not masked.
  for (UINT32 Entry = 0; Entry < PCI_CAPABILITY_LIST_MAX_ENTRIES && Pointer != 0; ++Entry) {
    UINT8 Id = 0;
    PciConfigRead8(Base, Pointer + PCI_CAPABILITY_ID, &Id);
    if (Id == PCI_CAPABILITY_ID_EXPRESS) {
      return true;
    }
    UINT8 Next = 0;
    PciConfigRead8(Base, Pointer + PCI_CAPABILITY_NEXT, &Next);
    Pointer = Next;
  }
  return false;
}

UINT16 FindRebarCapability(PciConfigAddress Base) {
  UINT32 Header = PCI_EXT_CAP_HEADER_NONE;
  if (EfiIsError(PciConfigRead32(Base, PCI_EXTENDED_CAPABILITY_START, &Header)) ||
      Header == PCI_EXT_CAP_HEADER_NONE || Header == PCI_EXT_CAP_HEADER_ABSENT) {
    return 0;
  }

  UINT64 Current = PCI_EXTENDED_CAPABILITY_START;
  INT32 Budget = PCI_EXT_CAP_WALK_BUDGET;
  for (;;) {
    --Budget;
    if (RegisterField(Header, PCI_EXT_CAP_ID_MASK) == PCI_EXT_CAP_ID_REBAR) {
      return static_cast<UINT16>(Current);
    }
    // A next offset below 0x100, the chain's end of 0 included, ends the chain.
    const UINT32 Next = RegisterField(Header, PCI_EXT_CAP_NEXT_MASK) & PCI_EXT_CAP_NEXT_OFFSET_MASK;
    if (Next < PCI_EXTENDED_CAPABILITY_START) {
      return 0;
    }
    if (EfiIsError(PciConfigRead32(Base, Next, &Header))) {
      return 0;
    }
    // The budget is spent: the header just read is not examined.
    if (Budget <= 0) {
      return 0;
    }
    Current = Next;
  }
}
