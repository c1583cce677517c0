// Decoding of the scan target's input into configuration functions, bridges and faults.
#include "tests/fuzz/ScanFuzzInput.h"

#include "driver/PciRegisters.h"
#include "driver/RebarRegisters.h"
#include "firmware/UefiStatus.h"

namespace {

constexpr size_t SIZE_HEADER_ONLY = 64;
constexpr size_t SIZE_CONVENTIONAL = 256;
constexpr size_t SIZE_EXPRESS = 4096;

// The endpoint of the templates, and where its structures sit.
constexpr uint16_t ENDPOINT_VENDOR_ID = 0x10EE;
constexpr uint16_t ENDPOINT_DEVICE_ID = 0x903F;
constexpr uint8_t EXPRESS_CAPABILITY_AT = 0x40;
constexpr uint32_t REBAR_AT_CHAIN_END = 0x140;
constexpr uint16_t EXT_CAP_ID_AER = 0x0001;
constexpr uint32_t EXT_CAP_VERSION_1 = 1;
constexpr unsigned EXT_CAP_VERSION_SHIFT = 16;
constexpr unsigned EXT_CAP_NEXT_SHIFT = 20;
constexpr unsigned REBAR_ENTRY_COUNT_SHIFT = 5;
constexpr unsigned REBAR_BAR_SIZE_SHIFT = 8;
constexpr unsigned BITS_PER_BYTE = 8;
// Sizes 256 MB to 8 GB (indexes 8 to 13) in a capability register, current size 256 MB.
constexpr uint32_t TEMPLATE_CAPABILITY_SIZES = 0x3F00 << REBAR_CAPABILITY_SIZES_SHIFT;
constexpr uint32_t TEMPLATE_CURRENT_INDEX = 8;
constexpr uint32_t TEMPLATE_CHAIN_ENTRIES = 6;

constexpr EFI_STATUS INJECTED_ERROR = EFI_DEVICE_ERROR;
constexpr EFI_STATUS INJECTED_WARNING = EFI_WARN_STALE_DATA;

// Range maxima of the bus-number descriptors of the edge topologies.
constexpr uint64_t FULL_BUS_RANGE_MAX = 0xFF;
constexpr uint64_t BUS_ABOVE_8_BITS_MAX = 0x100;
constexpr uint64_t BUS_16_BITS_MAX = 0xFFFF;
constexpr uint64_t BUS_ABOVE_16_BITS_MAX = 0x100000001ULL;
constexpr uint64_t UNUSED_MINIMUM = 2;
constexpr uint64_t UNUSED_MINIMUM_MAX = 3;
constexpr uint64_t SMALL_RANGE_MAX = 1;
constexpr uint32_t SECOND_SEGMENT = 1;

// Resources the descriptors of a bridge describe besides its buses.
constexpr uint64_t MEMORY_MIN = 0x80000000;
constexpr uint64_t MEMORY_MAX = 0xDFFFFFFF;
constexpr uint64_t IO_MIN = 0x1000;
constexpr uint64_t IO_MAX = 0xFFFF;

void Put(std::vector<uint8_t> &Bytes, uint64_t Offset, uint32_t Value, size_t Width) {
  for (size_t Index = 0; Index < Width && Offset + Index < Bytes.size(); ++Index) {
    Bytes[Offset + Index] = static_cast<uint8_t>(Value >> (BITS_PER_BYTE * Index));
  }
}

constexpr uint32_t ExtHeader(uint16_t Id, uint32_t Next) {
  return Id | (EXT_CAP_VERSION_1 << EXT_CAP_VERSION_SHIFT) | (Next << EXT_CAP_NEXT_SHIFT);
}

// A Resizable BAR capability at Offset with Entries entries for BARs 0, 1, ...
void PutRebar(std::vector<uint8_t> &Bytes, uint64_t Offset, uint32_t Entries) {
  Put(Bytes, Offset, ExtHeader(PCI_EXT_CAP_ID_REBAR, 0), sizeof(uint32_t));
  for (uint32_t Entry = 0; Entry < Entries; ++Entry) {
    uint32_t Control = Entry | (TEMPLATE_CURRENT_INDEX << REBAR_BAR_SIZE_SHIFT);
    if (Entry == 0) {
      Control |= Entries << REBAR_ENTRY_COUNT_SHIFT;
    }
    Put(Bytes, Offset + REBAR_CAPABILITY + REBAR_ENTRY_STRIDE * Entry, TEMPLATE_CAPABILITY_SIZES,
        sizeof(uint32_t));
    Put(Bytes, Offset + REBAR_CONTROL + REBAR_ENTRY_STRIDE * Entry, Control, sizeof(uint32_t));
  }
}

std::vector<uint8_t> TemplateBytes(ScanTemplate Template, size_t Size) {
  std::vector<uint8_t> Bytes(Size, 0);
  if (Template == ScanTemplate::Zeros) {
    return Bytes;
  }
  Put(Bytes, PCI_VENDOR_ID, ENDPOINT_VENDOR_ID, sizeof(uint16_t));
  Put(Bytes, PCI_DEVICE_ID, ENDPOINT_DEVICE_ID, sizeof(uint16_t));
  Put(Bytes, PCI_CAPABILITY_POINTER, EXPRESS_CAPABILITY_AT, sizeof(uint8_t));
  Put(Bytes, EXPRESS_CAPABILITY_AT + PCI_CAPABILITY_ID, PCI_CAPABILITY_ID_EXPRESS, sizeof(uint8_t));
  if (Template == ScanTemplate::Rebar) {
    PutRebar(Bytes, PCI_EXTENDED_CAPABILITY_START, 1);
  } else if (Template == ScanTemplate::RebarChain) {
    Put(Bytes, PCI_EXTENDED_CAPABILITY_START, ExtHeader(EXT_CAP_ID_AER, REBAR_AT_CHAIN_END),
        sizeof(uint32_t));
    PutRebar(Bytes, REBAR_AT_CHAIN_END, TEMPLATE_CHAIN_ENTRIES);
  }
  return Bytes;
}

size_t FunctionSize(uint8_t Kind) {
  switch (Kind & SCAN_INPUT_SIZE_MASK) {
  case 0:
    return SIZE_HEADER_ONLY;
  case 1:
    return SIZE_CONVENTIONAL;
  default:
    return SIZE_EXPRESS;
  }
}

// Reads one function record and its patches at Position; false when the input ends first.
bool DecodeFunction(const uint8_t *Data, size_t Size, size_t &Position, ConfigFunction &Function) {
  if (Position + SCAN_INPUT_RECORD_BYTES > Size) {
    return false;
  }
  const uint8_t *Record = Data + Position;
  Position += SCAN_INPUT_RECORD_BYTES;
  Function.Bus = Record[0] & SCAN_INPUT_BUS_MASK;
  Function.Device = Record[1] >> SCAN_INPUT_DEVICE_SHIFT;
  Function.Function = Record[1] & SCAN_INPUT_FUNCTION_MASK;
  const auto Template = static_cast<ScanTemplate>((Record[2] >> SCAN_INPUT_TEMPLATE_SHIFT) &
                                                  SCAN_INPUT_TEMPLATE_MASK);
  Function.Bytes = TemplateBytes(Template, FunctionSize(Record[2]));
  for (unsigned Patch = 0; Patch < Record[3]; ++Patch) {
    if (Position + SCAN_INPUT_PATCH_HEADER_BYTES > Size) {
      break;
    }
    const size_t Offset =
        (Data[Position] | (Data[Position + 1] << BITS_PER_BYTE)) & SCAN_INPUT_OFFSET_MASK;
    const size_t Length = Data[Position + 2];
    Position += SCAN_INPUT_PATCH_HEADER_BYTES;
    for (size_t Index = 0; Index < Length && Position < Size; ++Index, ++Position) {
      if (Offset + Index < Function.Bytes.size()) {
        Function.Bytes[Offset + Index] = Data[Position];
      }
    }
  }
  return true;
}

std::vector<uint8_t> Concatenated(std::initializer_list<std::vector<uint8_t>> Parts) {
  std::vector<uint8_t> All;
  for (const std::vector<uint8_t> &Part : Parts) {
    All.insert(All.end(), Part.begin(), Part.end());
  }
  return All;
}

void DecodeTopology(uint8_t Selector, ScanCase &Case) {
  const std::vector<uint8_t> Others =
      Concatenated({MemoryDescriptor(MEMORY_MIN, MEMORY_MAX), IoDescriptor(IO_MIN, IO_MAX)});
  if (Selector < SCAN_INPUT_EDGE_TOPOLOGY) {
    const std::vector<uint8_t> Bus = BusDescriptor(0, Selector & SCAN_INPUT_PLAIN_MAX_BUS_MASK);
    const bool WithOthers = (Selector & SCAN_INPUT_OTHER_DESCRIPTORS_BIT) != 0;
    Case.Bridges.push_back({WithOthers ? Concatenated({Others, Bus}) : Bus});
    return;
  }
  const auto Topology = static_cast<ScanTopology>((Selector - SCAN_INPUT_EDGE_TOPOLOGY) %
                                                  static_cast<uint8_t>(ScanTopology::Count));
  switch (Topology) {
  case ScanTopology::FullBusRange:
    Case.Bridges.push_back({BusDescriptor(0, FULL_BUS_RANGE_MAX)});
    break;
  case ScanTopology::BusAbove8Bits:
    Case.Bridges.push_back({BusDescriptor(0, BUS_ABOVE_8_BITS_MAX)});
    break;
  case ScanTopology::BusMaximum16Bits:
    Case.Bridges.push_back({BusDescriptor(0, BUS_16_BITS_MAX)});
    break;
  case ScanTopology::BusAbove16Bits:
    Case.Bridges.push_back({BusDescriptor(0, BUS_ABOVE_16_BITS_MAX)});
    break;
  case ScanTopology::NoBusDescriptor:
    Case.Bridges.push_back({Others});
    break;
  case ScanTopology::TwoBusDescriptors:
    Case.Bridges.push_back(
        {Concatenated({BusDescriptor(0, SMALL_RANGE_MAX), Others, BusDescriptor(0, 0)})});
    break;
  case ScanTopology::RangeMinimumUnused:
    Case.Bridges.push_back({BusDescriptor(UNUSED_MINIMUM, UNUSED_MINIMUM_MAX)});
    break;
  case ScanTopology::NullDescriptors:
    Case.Bridges.push_back({BusDescriptor(0, 0), 0, true});
    break;
  case ScanTopology::ConfigurationFails:
    Case.Bridges.push_back({BusDescriptor(0, 0)});
    Case.ConfigurationFails = true;
    break;
  case ScanTopology::ForeignHandleFirst:
    Case.Bridges.push_back({BusDescriptor(0, 0)});
    Case.ForeignHandleFirst = true;
    break;
  case ScanTopology::TwoBridges:
  case ScanTopology::Count:
    Case.Bridges.push_back({BusDescriptor(0, SMALL_RANGE_MAX)});
    Case.Bridges.push_back({BusDescriptor(0, SMALL_RANGE_MAX), SECOND_SEGMENT});
    break;
  }
}

constexpr uint8_t READ_FAULT_MASK = 0x03;
constexpr uint8_t CONSOLE_FAULT_SHIFT = 2;

} // namespace

ScanCase DecodeScanCase(const uint8_t *Data, size_t Size) {
  ScanCase Case;
  if (Size < SCAN_INPUT_HEADER_BYTES) {
    Case.Bridges.push_back({BusDescriptor(0, 0)});
    return Case;
  }
  DecodeTopology(Data[0], Case);
  Case.ReadFault = static_cast<FaultKind>(Data[1] & READ_FAULT_MASK);
  Case.ConsoleFault = static_cast<FaultKind>((Data[1] >> CONSOLE_FAULT_SHIFT) & READ_FAULT_MASK);
  Case.FaultOccurrence = (Data[2] | (Data[3] << BITS_PER_BYTE)) + 1ULL;

  size_t Position = SCAN_INPUT_HEADER_BYTES;
  ConfigFunction Function;
  while (Case.Image.size() < SCAN_INPUT_MAX_FUNCTIONS &&
         DecodeFunction(Data, Size, Position, Function)) {
    Case.Image.push_back(Function);
  }
  return Case;
}

void ApplyScanCase(const ScanCase &Case, HostPlatform &Platform) {
  if (Case.ForeignHandleFirst) {
    Platform.AddForeignHandle();
  }
  for (const BridgeSetup &Setup : Case.Bridges) {
    HostRootBridge &Bridge = Platform.AddRootBridge(Case.Image, Setup.Descriptors, Setup.Segment);
    Bridge.NullDescriptors = Setup.NullDescriptors;
  }
  if (Case.ConfigurationFails) {
    Platform.InjectFault(HostCall::Configuration, 0, INJECTED_ERROR);
  }
  switch (Case.ReadFault) {
  case FaultKind::Error:
    Platform.InjectFault(HostCall::PciRead, Case.FaultOccurrence, INJECTED_ERROR);
    break;
  case FaultKind::Warning:
    Platform.InjectFault(HostCall::PciRead, Case.FaultOccurrence, INJECTED_WARNING);
    break;
  case FaultKind::Other:
    Platform.InjectFault(HostCall::AllocatePool, Case.FaultOccurrence, INJECTED_ERROR);
    break;
  case FaultKind::None:
    break;
  }
  switch (Case.ConsoleFault) {
  case FaultKind::Error:
    Platform.InjectFault(HostCall::OutputString, Case.FaultOccurrence, INJECTED_ERROR);
    break;
  case FaultKind::Warning:
    Platform.InjectFault(HostCall::OutputString, Case.FaultOccurrence, INJECTED_WARNING);
    break;
  case FaultKind::Other:
    Platform.DetachConsole();
    break;
  case FaultKind::None:
    break;
  }
}
