// Fuzz target of the whole driver: a configuration image of a few functions with arbitrary
// bytes behind hosted root bridges (see ScanFuzzInput.h), run through DriverEntry. Checked on
// every input:
// - DriverEntry returns success, the platform saw no forbidden call or misuse (no write of
//   configuration space, no stray firmware call) and every pool buffer was given back;
// - reads stay within the scanned bus range, carry a well-formed address, and per function
//   stay within the bound below; an absent function costs exactly its two ID reads a visit;
// - every console write is exactly one report line with values the evaluation can produce,
//   and, when no write was lost to a fault, every BAR line follows its sizes line and agrees
//   with it, and BAR indexes ascend within one function's report.
//
// Read bound of one visit of a present function (reads of one scan of a bus range):
//     2    vendor and device ID
//   + 97   standard capability list: the pointer at 0x34, then an ID and a next pointer for
//          each of at most PCI_CAPABILITY_LIST_MAX_ENTRIES (48) entries
//   + 481  extended chain, PCI Express functions only: the header at 0x100 and one more read
//          per header examined, PCI_EXT_CAP_WALK_BUDGET (480) of them, the last one read but
//          not examined
//   + 108  evaluation, functions with the capability: for each of BARs 0 to 5 two entry
//          searches of one count read and at most 7 entry reads (the 3-bit entry count), the
//          current size read and the capability register read: 6 x (2 x 8 + 2)
//   + 1    header type
//   = 689. An absent function is 2 reads a visit; a function is visited at most once per
// bus-number descriptor of its bridge.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "driver/PciRegisters.h"
#include "driver/RebarRegisters.h"
#include "firmware/AcpiDescriptors.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/ScanFuzzInput.h"
#include "tests/host/ReportLines.h"

namespace {

constexpr uint64_t ID_READS = 2;
constexpr uint64_t CAPABILITY_LIST_READS = 1 + 2 * PCI_CAPABILITY_LIST_MAX_ENTRIES;
constexpr uint64_t EXTENDED_CHAIN_READS = 1 + PCI_EXT_CAP_WALK_BUDGET;
constexpr uint64_t REBAR_MAX_ENTRIES = REBAR_CONTROL_ENTRY_COUNT_MASK >> 5;
constexpr uint64_t ENTRY_SEARCH_READS = 1 + REBAR_MAX_ENTRIES;
constexpr uint64_t BARS_EVALUATED = REBAR_LAST_BAR - REBAR_FIRST_BAR + 1;
constexpr uint64_t EVALUATION_READS = BARS_EVALUATED * (2 * ENTRY_SEARCH_READS + 2);
constexpr uint64_t HEADER_TYPE_READS = 1;
constexpr uint64_t PRESENT_FUNCTION_READS =
    ID_READS + CAPABILITY_LIST_READS + EXTENDED_CHAIN_READS + EVALUATION_READS + HEADER_TYPE_READS;
static_assert(PRESENT_FUNCTION_READS == 689);
constexpr uint64_t ABSENT_FUNCTION_READS = ID_READS;

constexpr uint64_t REGISTER_BYTE_MASK = 0xFF;
constexpr unsigned EXTENDED_REGISTER_SHIFT = 32;
constexpr uint64_t BUS_RANGE_FIELD_MASK = 0xFFFF;
constexpr unsigned BITS_PER_BYTE = 8;

// How a bridge's descriptor list is scanned: once per bus-number descriptor, buses 0 to the
// highest range maximum (its low 16 bits, at most the 8 bits an address holds).
struct BusScans {
  uint64_t Scans = 0;
  uint64_t LastBus = 0;
};

BusScans ScansOf(const std::vector<uint8_t> &Descriptors) {
  BusScans Found;
  for (size_t At = 0; At + ACPI_QWORD_DESCRIPTOR_SIZE <= Descriptors.size() &&
                      Descriptors[At + ACPI_DESCRIPTOR_TAG] != ACPI_END_TAG_DESCRIPTOR;
       At += ACPI_QWORD_DESCRIPTOR_SIZE) {
    if (Descriptors[At + ACPI_DESCRIPTOR_RESOURCE_TYPE] != ACPI_ADDRESS_SPACE_TYPE_BUS) {
      continue;
    }
    uint64_t Maximum = 0;
    for (size_t Byte = 0; Byte < sizeof(uint64_t); ++Byte) {
      Maximum |= uint64_t{Descriptors[At + ACPI_DESCRIPTOR_RANGE_MAXIMUM + Byte]}
                 << (BITS_PER_BYTE * Byte);
    }
    ++Found.Scans;
    Found.LastBus = std::max<uint64_t>(
        Found.LastBus, std::min<uint64_t>(Maximum & BUS_RANGE_FIELD_MASK, PCI_MAX_BUS));
  }
  return Found;
}

// Aborts with Message. The checks test their condition themselves and build a message only
// for a failure: they run on every read and every console write, hundreds of thousands of
// times an input, and a message built each time would cost more than the driver's scan.
[[noreturn]] void Fail(const std::string &Message) {
  Require(false, Message);
  std::abort();
}

// Reads per function key of one bridge, for its first Keys keys (buses 0 to the last one
// scanned). The table is kept from input to input and only the part in use is cleared.
std::vector<uint32_t> &ReadCounts(size_t Keys) {
  static std::vector<uint32_t> Counts;
  if (Counts.size() < Keys) {
    Counts.resize(Keys);
  }
  std::fill(Counts.begin(), Counts.begin() + static_cast<std::ptrdiff_t>(Keys), 0);
  return Counts;
}

void CheckReads(const ScanCase &Case, const HostPlatform &Platform) {
  for (size_t Index = 0; Index < Platform.Bridges.size(); ++Index) {
    const HostRootBridge &Bridge = *Platform.Bridges[Index];
    const bool Walked = !Case.ConfigurationFails && !Bridge.NullDescriptors;
    const BusScans Expected = Walked ? ScansOf(Case.Bridges[Index].Descriptors) : BusScans{};
    if (Expected.Scans == 0 && !Bridge.Reads.empty()) {
      Fail("reads of a bridge whose buses were never scanned");
    }
    const size_t Keys = HostFunctionKey(static_cast<uint32_t>(Expected.LastBus) + 1, 0, 0);
    std::vector<uint32_t> &Counts = ReadCounts(Keys);
    for (const PciReadRecord &Read : Bridge.Reads) {
      if ((Read.Address & REGISTER_BYTE_MASK) != 0 &&
          (Read.Address >> EXTENDED_REGISTER_SHIFT) != 0) {
        Fail("a read address with both a register byte and an extended register");
      }
      const DecodedPciAddress Decoded = DecodePciAddress(Read.Address);
      if (Decoded.Bus > Expected.LastBus) {
        Fail(Mismatch("a read of a bus outside the scanned range", Decoded.Bus, Expected.LastBus));
      }
      ++Counts[HostFunctionKey(Decoded.Bus, Decoded.Device, Decoded.Function)];
    }
    // Present functions first, their counts then cleared, so that every other key counted is
    // an absent function.
    const uint64_t PresentBound = Expected.Scans * PRESENT_FUNCTION_READS;
    for (const auto &[Key, Function] : Bridge.Functions) {
      if (Key >= Keys) {
        continue;
      }
      if (Counts[Key] > PresentBound) {
        Fail(Mismatch("function key " + std::to_string(Key) + ": reads of a present function",
                      Counts[Key], PresentBound));
      }
      Counts[Key] = 0;
    }
    const uint64_t AbsentBound = Expected.Scans * ABSENT_FUNCTION_READS;
    for (uint32_t Key = 0; Key < Keys; ++Key) {
      if (Counts[Key] > AbsentBound || Counts[Key] % ID_READS != 0) {
        Fail(Mismatch("function key " + std::to_string(Key) + ": reads of an absent function",
                      Counts[Key], AbsentBound));
      }
    }
  }
}

bool FunctionExists(const HostPlatform &Platform, const HostPlatform::ReadOrigin &Origin) {
  const DecodedPciAddress Decoded = DecodePciAddress(Origin.Address);
  for (const std::unique_ptr<HostRootBridge> &Bridge : Platform.Bridges) {
    if (Bridge->Shell.Protocol.SegmentNumber == Origin.Segment &&
        Bridge->Functions.count(HostFunctionKey(Decoded.Bus, Decoded.Device, Decoded.Function))) {
      return true;
    }
  }
  return false;
}

bool SameFunction(const HostPlatform::ReadOrigin &A, const HostPlatform::ReadOrigin &B) {
  const DecodedPciAddress First = DecodePciAddress(A.Address);
  const DecodedPciAddress Second = DecodePciAddress(B.Address);
  return A.Segment == B.Segment && First.Bus == Second.Bus && First.Device == Second.Device &&
         First.Function == Second.Function;
}

// "console write N: why", for messages.
std::string AtWrite(size_t Index, const std::string &Why) {
  return "console write " + std::to_string(Index) + ": " + Why;
}

void CheckReport(const ScanCase &Case, const HostPlatform &Platform) {
  if (Case.ConsoleFault == FaultKind::Other) {
    if (!Platform.ConsoleWrites.empty()) {
      Fail("writes although no console is attached");
    }
    return;
  }
  // Writes lost to a failed allocation or output leave gaps in the sequence.
  const bool Complete = Case.ConsoleFault != FaultKind::Error && Case.ReadFault != FaultKind::Other;
  bool OneScanEach = true;
  for (const BridgeSetup &Setup : Case.Bridges) {
    OneScanEach = OneScanEach && ScansOf(Setup.Descriptors).Scans <= 1;
  }

  std::optional<SizesLine> Pending;
  std::optional<uint64_t> LastBar;
  for (size_t Index = 0; Index < Platform.ConsoleWrites.size(); ++Index) {
    const std::optional<ReportLine> Line = ParseReportLine(Platform.ConsoleWrites[Index]);
    if (!Line) {
      Fail(AtWrite(Index, "not a report line"));
    }
    if (const std::string Impossible = ImpossibleValues(*Line); !Impossible.empty()) {
      Fail(AtWrite(Index, Impossible));
    }
    const std::optional<HostPlatform::ReadOrigin> &Origin = Platform.ConsoleWriteOrigins[Index];
    if (!Origin || !FunctionExists(Platform, *Origin)) {
      Fail(AtWrite(Index, "made without a read of a present function before it"));
    }
    if (Index > 0 && !SameFunction(*Origin, *Platform.ConsoleWriteOrigins[Index - 1])) {
      LastBar.reset();
    }
    if (!Complete) {
      continue;
    }
    if (Line->Sizes) {
      if (Pending && !MayStandAlone(*Pending)) {
        Fail(AtWrite(Index, "the sizes line before it lacks its BAR line"));
      }
      Pending = Line->Sizes;
      continue;
    }
    if (!Pending) {
      Fail(AtWrite(Index, "a BAR line without its sizes line"));
    }
    if (const std::string Mismatched = BarLineMismatch(*Pending, *Line->Bar); !Mismatched.empty()) {
      Fail(AtWrite(Index, Mismatched));
    }
    Pending.reset();
    if (OneScanEach && LastBar && Line->Bar->Bar <= *LastBar) {
      Fail(AtWrite(Index, "BAR indexes do not ascend within a function"));
    }
    LastBar = Line->Bar->Bar;
  }
  if (Complete && Pending && !MayStandAlone(*Pending)) {
    Fail("the last sizes line lacks its BAR line");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const ScanCase Case = DecodeScanCase(Data, Size);
  HostPlatform Platform;
  ApplyScanCase(Case, Platform);
  const EFI_STATUS Status = Platform.RunDriverEntry();
  if (Status != EFI_SUCCESS) {
    Fail(Mismatch("DriverEntry status", Status, EFI_SUCCESS));
  }
  for (const std::string &Violation : Platform.Check()) {
    Fail("platform: " + Violation);
  }
  if (Platform.OutstandingPoolBuffers() != 0) {
    Fail(Mismatch("pool buffers outstanding", Platform.OutstandingPoolBuffers(), 0));
  }
  CheckReads(Case, Platform);
  CheckReport(Case, Platform);
  return 0;
}
