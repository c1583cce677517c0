// How the scan target reads its input: a few PCI functions with sparse configuration bytes on
// top of a template, the root bridges and their bus-number descriptors, and the firmware
// faults to inject.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/ConfigImage.h"
#include "host/HostPlatform.h"

// Input layout, all little-endian:
//   byte 0      topology: below 0xF0 one bridge with one bus descriptor of range 0 to
//               (byte & 1), with memory and I/O descriptors before it when bit 2 is set;
//               from 0xF0 on, one of the edge topologies (ScanTopology)
//   byte 1      faults: bits 0-1 Pci.Read (1 error, 2 warning, 3 allocation error), bits 2-3
//               OutputString (1 error, 2 warning, 3 no console)
//   bytes 2-3   the occurrence the fault hits (1-based, 0 = the first)
//   then        function records until the input ends, at most SCAN_INPUT_MAX_FUNCTIONS:
//     byte 0    bus (low 2 bits, so that some functions lie beyond a small bus range)
//     byte 1    device (bits 3-7) and function (bits 0-2)
//     byte 2    bits 0-1 size (0: 64, 1: 256, else 4096); bits 2-3 template (ScanTemplate)
//     byte 3    patch count
//     patches   offset (2 bytes, low 12 bits), length (1 byte), that many bytes; a patch is cut
//               at the function's end
inline constexpr size_t SCAN_INPUT_HEADER_BYTES = 4;
inline constexpr size_t SCAN_INPUT_RECORD_BYTES = 4;
inline constexpr size_t SCAN_INPUT_PATCH_HEADER_BYTES = 3;
inline constexpr size_t SCAN_INPUT_MAX_FUNCTIONS = 8;
inline constexpr uint8_t SCAN_INPUT_BUS_MASK = 0x03;
inline constexpr uint8_t SCAN_INPUT_DEVICE_SHIFT = 3;
inline constexpr uint8_t SCAN_INPUT_FUNCTION_MASK = 0x07;
inline constexpr uint8_t SCAN_INPUT_SIZE_MASK = 0x03;
inline constexpr uint8_t SCAN_INPUT_TEMPLATE_SHIFT = 2;
inline constexpr uint8_t SCAN_INPUT_TEMPLATE_MASK = 0x03;
inline constexpr uint16_t SCAN_INPUT_OFFSET_MASK = 0x0FFF;
inline constexpr uint8_t SCAN_INPUT_EDGE_TOPOLOGY = 0xF0;
// Every bus scanned costs 512 reads even when empty: plain topologies keep to two buses.
inline constexpr uint8_t SCAN_INPUT_PLAIN_MAX_BUS_MASK = 0x01;
inline constexpr uint8_t SCAN_INPUT_OTHER_DESCRIPTORS_BIT = 0x04;

// What a function's bytes start from, before the patches.
enum class ScanTemplate : uint8_t {
  // All zeros: present with vendor ID 0, no capability list.
  Zeros,
  // A PCI Express endpoint (10ee:903f): capability list at 0x40 holding the PCI Express
  // capability, no extended capability.
  Express,
  // The endpoint with a Resizable BAR capability at 0x100 with one entry for BAR 0.
  Rebar,
  // The endpoint with an extended chain 0x100 -> 0x140 (Resizable BAR, six entries).
  RebarChain,
};

// Topologies from byte 0 = 0xF0 + n.
enum class ScanTopology : uint8_t {
  FullBusRange,       // bus range 0 to 0xFF
  BusAbove8Bits,      // range maximum 0x100: more buses than the address holds
  BusMaximum16Bits,   // range maximum 0xFFFF
  BusAbove16Bits,     // range maximum 0x1_0000_0001: its low 16 bits are 1
  NoBusDescriptor,    // memory and I/O descriptors only
  TwoBusDescriptors,  // ranges 0..1 then 0..0: the bridge is scanned twice
  RangeMinimumUnused, // range 2..3: the scan still starts at bus 0
  NullDescriptors,    // Configuration hands out a null list
  ConfigurationFails,
  ForeignHandleFirst, // a handle without the root bridge protocol before the bridge
  TwoBridges,         // two bridges (segments 0 and 1) serving the same functions, range 0..1
  Count,
};

enum class FaultKind : uint8_t { None, Error, Warning, Other };

struct BridgeSetup {
  std::vector<uint8_t> Descriptors;
  uint32_t Segment = 0;
  bool NullDescriptors = false;
};

struct ScanCase {
  ConfigImage Image;
  std::vector<BridgeSetup> Bridges;
  bool ForeignHandleFirst = false;
  bool ConfigurationFails = false;
  FaultKind ReadFault = FaultKind::None;
  FaultKind ConsoleFault = FaultKind::None;
  uint64_t FaultOccurrence = 1;
};

ScanCase DecodeScanCase(const uint8_t *Data, size_t Size);

// Sets up Platform as Case describes: bridges, handles and faults.
void ApplyScanCase(const ScanCase &Case, HostPlatform &Platform);
