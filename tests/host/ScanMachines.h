// Scan machines: bus ranges and the functions behind them, each function described by the
// features that decide which registers the scan reads. The read-count test and the scan
// benchmark build the same machines from these descriptions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/PciRegisters.h"
#include "driver/RebarRegisters.h"
#include "tests/host/HostTestSupport.h"

// One present function, by what the scan walks through.
struct FunctionShape {
  uint8_t Bus = 0;
  uint8_t Device = 0;
  uint8_t Function = 0;
  uint16_t VendorId = 0;
  uint16_t DeviceId = 0;
  // Header type bit 7: functions 1 to 7 are probed after function 0.
  bool MultiFunction = false;
  // Entries of the standard capability list; 0 leaves the capability pointer 0.
  uint8_t StandardEntries = 0;
  // The last standard entry is the PCI Express capability (StandardEntries at least 1).
  bool Express = false;
  // Extended capability headers before the Resizable BAR one, or in all when there is none;
  // 0 without Resizable BAR leaves a header of 0 at 0x100.
  uint8_t ExtendedHeaders = 0;
  // BAR index named by each Resizable BAR entry, in capability order; empty: no capability.
  std::vector<uint8_t> RebarBars;
};

struct ScanMachine {
  std::string Name;
  // The bus-number descriptor's maximum: buses 0 to MaxBus are scanned.
  uint16_t MaxBus = 0;
  std::vector<FunctionShape> Functions;
};

// Where the builder lays out capabilities: standard entries from 0x40, 8 bytes apart, and
// extended headers from 0x100, 0x40 bytes apart (room for a six-entry Resizable BAR capability).
inline constexpr size_t MACHINE_FIRST_STANDARD_ENTRY = 0x40;
inline constexpr size_t MACHINE_STANDARD_ENTRY_STRIDE = 8;
inline constexpr size_t MACHINE_EXTENDED_STRIDE = 0x40;
// IDs of the filler capabilities: power management, and advanced error reporting.
inline constexpr uint8_t MACHINE_FILLER_STANDARD_ID = 0x01;
inline constexpr uint16_t MACHINE_FILLER_EXTENDED_ID = 0x0001;
// Supported sizes of every Resizable BAR entry (256 MB to 8 GB) and its current size (256 MB).
inline constexpr uint32_t MACHINE_REBAR_SIZES = 0x3F000;
inline constexpr uint32_t MACHINE_REBAR_CURRENT = 8;

// The configuration space of Shape: 4096 bytes for a PCI Express function, else 256.
inline ConfigFunction BuildFunction(const FunctionShape &Shape) {
  ConfigFunction Made =
      MakeFunction(Shape.Bus, Shape.Device, Shape.Function, Shape.VendorId, Shape.DeviceId,
                   Shape.Express ? EXPRESS_SPACE : CONVENTIONAL_SPACE);
  Put8(Made, PCI_HEADER_TYPE, Shape.MultiFunction ? PCI_HEADER_TYPE_MULTI_FUNCTION : 0);

  for (size_t Entry = 0; Entry < Shape.StandardEntries; ++Entry) {
    const size_t Offset = MACHINE_FIRST_STANDARD_ENTRY + MACHINE_STANDARD_ENTRY_STRIDE * Entry;
    const bool Last = Entry + 1 == Shape.StandardEntries;
    if (Entry == 0) {
      Put8(Made, PCI_CAPABILITY_POINTER, static_cast<uint8_t>(Offset));
    }
    Put8(Made, Offset + PCI_CAPABILITY_ID,
         Last && Shape.Express ? PCI_CAPABILITY_ID_EXPRESS : MACHINE_FILLER_STANDARD_ID);
    Put8(Made, Offset + PCI_CAPABILITY_NEXT,
         Last ? 0 : static_cast<uint8_t>(Offset + MACHINE_STANDARD_ENTRY_STRIDE));
  }
  if (!Shape.Express) {
    return Made;
  }

  const bool Rebar = !Shape.RebarBars.empty();
  const size_t Headers = Shape.ExtendedHeaders + (Rebar ? 1U : 0U);
  for (size_t Header = 0; Header < Shape.ExtendedHeaders; ++Header) {
    const size_t Offset = PCI_EXTENDED_CAPABILITY_START + MACHINE_EXTENDED_STRIDE * Header;
    const bool Last = Header + 1 == Headers;
    Put32(Made, Offset,
          ExtHeader(MACHINE_FILLER_EXTENDED_ID, 1,
                    Last ? 0 : static_cast<uint32_t>(Offset + MACHINE_EXTENDED_STRIDE)));
  }
  if (Rebar) {
    std::vector<std::pair<uint32_t, uint32_t>> Entries;
    for (const uint8_t Bar : Shape.RebarBars) {
      Entries.emplace_back(MACHINE_REBAR_SIZES, RebarControl(Bar, MACHINE_REBAR_CURRENT));
    }
    AddRebar(Made, PCI_EXTENDED_CAPABILITY_START + MACHINE_EXTENDED_STRIDE * Shape.ExtendedHeaders,
             Entries);
  }
  return Made;
}

inline ConfigImage BuildImage(const ScanMachine &Machine) {
  ConfigImage Image;
  for (const FunctionShape &Shape : Machine.Functions) {
    Image.push_back(BuildFunction(Shape));
  }
  return Image;
}

// Buses 0 to 255, no function present: only the two ID reads of every address.
inline ScanMachine EmptyBusRangeMachine() {
  return {"empty buses 0-255", static_cast<uint16_t>(PCI_MAX_BUS), {}};
}

// Bus 0 only, no function present.
inline ScanMachine SingleBusMachine() {
  return {"empty bus 0", 0, {}};
}

// A workstation of 20 devices on buses 0 to 7: chipset functions with and without PCI Express,
// multi-function devices, root ports, storage and network controllers, and graphics cards and
// accelerators with Resizable BAR capabilities of one to six entries.
inline ScanMachine TwentyDeviceMachine() {
  constexpr uint16_t INTEL = 0x8086;
  constexpr uint16_t AMD = 0x1002;
  constexpr uint16_t NVIDIA = 0x10DE;
  constexpr uint16_t SAMSUNG = 0x144D;
  constexpr uint16_t MELLANOX = 0x15B3;
  ScanMachine Machine{"20 devices, buses 0-7", 7, {}};
  std::vector<FunctionShape> &F = Machine.Functions;
  // Bus 0: host bridge, root ports, integrated graphics, chipset functions.
  F.push_back({0, 0x00, 0, INTEL, 0x4660, false, 1, false, 0, {}});
  F.push_back({0, 0x01, 0, INTEL, 0x460D, false, 4, true, 3, {}});
  F.push_back({0, 0x02, 0, INTEL, 0x4680, false, 3, true, 2, {2}});
  F.push_back({0, 0x06, 0, INTEL, 0x464D, false, 4, true, 3, {}});
  F.push_back({0, 0x14, 0, INTEL, 0x7AE0, true, 1, false, 0, {}});
  F.push_back({0, 0x14, 2, INTEL, 0x7AA7, false, 1, false, 0, {}});
  F.push_back({0, 0x15, 0, INTEL, 0x7ACC, true, 2, false, 0, {}});
  F.push_back({0, 0x15, 1, INTEL, 0x7ACD, false, 2, false, 0, {}});
  F.push_back({0, 0x16, 0, INTEL, 0x7AE8, false, 2, false, 0, {}});
  F.push_back({0, 0x17, 0, INTEL, 0x7AE2, false, 3, false, 0, {}});
  F.push_back({0, 0x1C, 0, INTEL, 0x7AB8, false, 4, true, 2, {}});
  F.push_back({0, 0x1D, 0, INTEL, 0x7AB0, false, 4, true, 2, {}});
  F.push_back({0, 0x1F, 0, INTEL, 0x7A84, true, 0, false, 0, {}});
  F.push_back({0, 0x1F, 3, INTEL, 0x7AD0, false, 2, false, 0, {}});
  F.push_back({0, 0x1F, 4, INTEL, 0x7AA3, false, 0, false, 0, {}});
  F.push_back({0, 0x1F, 5, INTEL, 0x7AA4, false, 0, false, 0, {}});
  // Bus 1: a Navi 10 graphics card (BARs 0 and 2 resizable) and its audio function.
  F.push_back({1, 0, 0, AMD, 0x731F, true, 4, true, 5, {0, 2}});
  F.push_back({1, 0, 1, AMD, 0xAB38, false, 4, true, 2, {}});
  // Bus 2: NVMe drive.
  F.push_back({2, 0, 0, SAMSUNG, 0xA80A, false, 4, true, 6, {}});
  // Bus 3: a two-port network controller.
  F.push_back({3, 0, 0, MELLANOX, 0x1017, true, 3, true, 4, {}});
  F.push_back({3, 0, 1, MELLANOX, 0x1017, false, 3, true, 4, {}});
  // Bus 4: a GeForce card with BARs 1 and 3 resizable, and its audio function.
  F.push_back({4, 0, 0, NVIDIA, 0x2204, true, 4, true, 3, {1, 3}});
  F.push_back({4, 0, 1, NVIDIA, 0x1AEF, false, 3, true, 1, {}});
  // Bus 5: an accelerator with all six BARs resizable.
  F.push_back({5, 0, 0, NVIDIA, 0x20B5, false, 4, true, 4, {0, 1, 2, 3, 4, 5}});
  // Bus 6: two conventional USB controllers.
  F.push_back({6, 0, 0, 0x1B21, 0x2142, false, 2, false, 0, {}});
  F.push_back({6, 1, 0, 0x1B21, 0x1242, false, 2, false, 0, {}});
  // Bus 7: a second NVMe drive and a SATA controller.
  F.push_back({7, 0, 0, SAMSUNG, 0xA808, false, 4, true, 5, {}});
  F.push_back({7, 1, 0, 0x1B21, 0x1166, false, 3, true, 1, {}});
  return Machine;
}
