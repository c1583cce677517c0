// The number of configuration reads the driver makes over a scan machine, counted from the
// scan's rules rather than by running it:
//
//   every address of buses 0..MaxBus is probed, function by function, with two ID reads;
//   an absent function costs nothing more; a present function 0 whose header type has bit 7
//   clear ends its device, so functions 1 to 7 of it are not probed at all;
//   a present function costs, besides its two ID reads and its header type read:
//     standard list:  1 pointer read, then 2 reads (ID, next) per entry passed over and
//                     1 read (ID) for the PCI Express entry where the walk stops;
//     extended chain: for a PCI Express function only, 1 read per header up to and including
//                     the Resizable BAR one, or per header of a chain without one (the
//                     header of 0 at 0x100 included);
//     evaluation:     for each BAR 0 to 5, two entry searches of 1 count read plus 1 control
//                     read per entry up to the match (all N entries without one), and with a
//                     match 1 control read for the current size and 1 capability read.
#pragma once

#include <algorithm>
#include <cstdint>

#include "tests/host/ScanMachines.h"

// Reads of the standard capability walk: the pointer, 2 per entry passed over, 1 for the
// PCI Express entry.
inline uint64_t StandardListReads(const FunctionShape &Shape) {
  if (Shape.Express) {
    return 1 + 2 * (Shape.StandardEntries - 1U) + 1;
  }
  return 1 + 2 * uint64_t{Shape.StandardEntries};
}

// Reads of the extended chain: one per header examined; a chain holds at least the header at
// 0x100.
inline uint64_t ExtendedChainReads(const FunctionShape &Shape) {
  if (!Shape.Express) {
    return 0;
  }
  if (!Shape.RebarBars.empty()) {
    return Shape.ExtendedHeaders + 1U;
  }
  return std::max<uint64_t>(Shape.ExtendedHeaders, 1);
}

// Reads of one entry search for Bar: the count, then the control registers up to the match.
inline uint64_t EntrySearchReads(const FunctionShape &Shape, uint8_t Bar, bool &Found) {
  const auto Match = std::find(Shape.RebarBars.begin(), Shape.RebarBars.end(), Bar);
  Found = Match != Shape.RebarBars.end();
  return 1 + static_cast<uint64_t>(Match - Shape.RebarBars.begin()) + (Found ? 1 : 0);
}

// Reads of the evaluation of BARs 0 to 5, for a function with a Resizable BAR capability.
inline uint64_t EvaluationReads(const FunctionShape &Shape) {
  if (!Shape.Express || Shape.RebarBars.empty()) {
    return 0;
  }
  uint64_t Reads = 0;
  for (uint8_t Bar = REBAR_FIRST_BAR; Bar <= REBAR_LAST_BAR; ++Bar) {
    bool Found = false;
    Reads += 2 * EntrySearchReads(Shape, Bar, Found);
    if (Found) {
      Reads += 2;
    }
  }
  return Reads;
}

// Reads of one present function: IDs, both walks, the evaluation and the header type.
inline uint64_t PresentFunctionReads(const FunctionShape &Shape) {
  return 2 + StandardListReads(Shape) + ExtendedChainReads(Shape) + EvaluationReads(Shape) + 1;
}

// The function 0 of Shape's device, if the machine holds one.
inline const FunctionShape *FunctionZeroOf(const ScanMachine &Machine, const FunctionShape &Shape) {
  for (const FunctionShape &Other : Machine.Functions) {
    if (Other.Bus == Shape.Bus && Other.Device == Shape.Device && Other.Function == 0) {
      return &Other;
    }
  }
  return nullptr;
}

// A function 0 that is present and single-function leaves functions 1 to 7 unprobed.
inline bool EndsItsDevice(const FunctionShape &Shape) {
  return Shape.Function == 0 && !Shape.MultiFunction;
}

// 2 ID reads at each of the 256 addresses of each bus scanned, less the 7 addresses each
// single-function device leaves unprobed, plus what each present function visited costs
// beyond its ID reads.
inline uint64_t ExpectedScanReads(const ScanMachine &Machine) {
  constexpr uint64_t ID_READS = 2;
  constexpr uint64_t ADDRESSES_PER_BUS = uint64_t{PCI_MAX_DEVICE + 1} * (PCI_MAX_FUNCTION + 1);
  constexpr uint64_t SKIPPED_FUNCTIONS = PCI_MAX_FUNCTION;
  const uint64_t Buses = std::min<uint64_t>(Machine.MaxBus, PCI_MAX_BUS) + 1;
  uint64_t Reads = ID_READS * ADDRESSES_PER_BUS * Buses;
  for (const FunctionShape &Shape : Machine.Functions) {
    if (Shape.Bus >= Buses) {
      continue;
    }
    const FunctionShape *Zero = FunctionZeroOf(Machine, Shape);
    if (Shape.Function != 0 && Zero != nullptr && EndsItsDevice(*Zero)) {
      continue;
    }
    Reads += PresentFunctionReads(Shape) - ID_READS;
    if (EndsItsDevice(Shape)) {
      Reads -= ID_READS * SKIPPED_FUNCTIONS;
    }
  }
  return Reads;
}
