// Failing firmware: every firmware call the driver makes is made to fail in turn, once with an
// error and once with a warning, on a machine of two root bridges and a handle without one.
// Whatever fails, the driver must return success, leave the pool as it found it and misuse
// nothing, and its report must be the one it prints without the failure, less exactly what
// the failed call takes away.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "driver/PciRegisters.h"
#include "tests/host/HostTestSupport.h"
#include "tests/host/ReportLines.h"

namespace {

constexpr EFI_STATUS FAILURE_ERROR = EFI_DEVICE_ERROR;
constexpr EFI_STATUS FAILURE_WARNING = EFI_WARN_UNKNOWN_GLYPH;

// A function as the report attributes lines to it: segment, bus, device, function.
using FunctionAddress = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;

FunctionAddress AddressOf(uint32_t Segment, uint64_t Address) {
  const DecodedPciAddress Decoded = DecodePciAddress(Address);
  return {Segment, Decoded.Bus, Decoded.Device, Decoded.Function};
}

// One configuration read in the order the driver made it across all bridges.
struct MachineRead {
  FunctionAddress Function;
  uint32_t Offset;
};

// What one run of the driver left behind.
struct Outcome {
  EFI_STATUS Returned = EFI_SUCCESS;
  std::vector<std::u16string> Writes;
  // The function each write reports on.
  std::vector<FunctionAddress> Origins;
  std::vector<MachineRead> Reads;
  std::vector<std::string> Violations;
  size_t OutstandingBuffers = 0;
  std::array<uint64_t, HOST_CALL_KINDS> Calls{};
};

ConfigImage LoadDump(const char *Name) {
  ConfigImage Image;
  std::string Error;
  const std::string Path = (std::filesystem::path(RBAR_DUMP_DIR) / Name).string();
  EXPECT_TRUE(LoadConfigDump(Path, Image, Error)) << Error;
  return Image;
}

// Graphics functions on one bridge (the device-ID override among them), a handle without a
// root bridge, then a multi-function device on a second bridge.
Outcome RunMachine(const std::vector<HostFault> &Faults) {
  static const ConfigImage Graphics = LoadDump("demo-gpus.dump");
  static const ConfigImage MultiFunction = LoadDump("multi-function.dump");
  HostPlatform Platform;
  Platform.AddRootBridge(Graphics, BusDescriptor(0, HighestBus(Graphics)), 0);
  Platform.AddForeignHandle();
  Platform.AddRootBridge(MultiFunction, BusDescriptor(0, HighestBus(MultiFunction)), 1);
  for (const HostFault &Fault : Faults) {
    Platform.InjectFault(Fault.Call, Fault.Occurrence, Fault.Status);
  }

  Outcome Result;
  Result.Returned = Platform.RunDriverEntry();
  Result.Writes = Platform.ConsoleWrites;
  for (const std::optional<HostPlatform::ReadOrigin> &Origin : Platform.ConsoleWriteOrigins) {
    Result.Origins.push_back(Origin ? AddressOf(Origin->Segment, Origin->Address)
                                    : FunctionAddress{});
  }
  for (const std::unique_ptr<HostRootBridge> &Bridge : Platform.Bridges) {
    for (const PciReadRecord &Read : Bridge->Reads) {
      Result.Reads.push_back({AddressOf(Bridge->Shell.Protocol.SegmentNumber, Read.Address),
                              DecodePciAddress(Read.Address).Offset});
    }
  }
  Result.Violations = Platform.Violations;
  Result.OutstandingBuffers = Platform.OutstandingPoolBuffers();
  Result.Calls = Platform.CallCounts;
  return Result;
}

const Outcome &Baseline() {
  static const Outcome Clean = RunMachine({});
  return Clean;
}

// The baseline's writes, less those for which Drop says so.
template <typename Predicate>
std::vector<std::u16string> BaselineWithout(Predicate Drop) {
  std::vector<std::u16string> Kept;
  for (size_t Index = 0; Index < Baseline().Writes.size(); ++Index) {
    if (!Drop(Index, Baseline().Origins[Index])) {
      Kept.push_back(Baseline().Writes[Index]);
    }
  }
  return Kept;
}

// The lines of the report that concern one function.
std::vector<std::u16string> LinesOf(const Outcome &Run, const FunctionAddress &Function) {
  std::vector<std::u16string> Lines;
  for (size_t Index = 0; Index < Run.Writes.size(); ++Index) {
    if (Run.Origins[Index] == Function) {
      Lines.push_back(Run.Writes[Index]);
    }
  }
  return Lines;
}

// A function's report: for each BAR in ascending order a sizes line, each followed by at most
// one BAR line for that BAR, every line strictly formed and holding possible values.
bool IsWellFormedReport(const std::vector<std::u16string> &Lines) {
  bool AfterSizes = false;
  std::optional<uint64_t> LastBar;
  for (const std::u16string &Write : Lines) {
    const std::optional<ReportLine> Line = ParseReportLine(Write);
    if (!Line || !ImpossibleValues(*Line).empty()) {
      return false;
    }
    if (Line->Sizes) {
      AfterSizes = true;
    } else if (AfterSizes && (!LastBar || Line->Bar->Bar > *LastBar)) {
      LastBar = Line->Bar->Bar;
      AfterSizes = false;
    } else {
      return false;
    }
  }
  return true;
}

// Every run, whatever failed: success returned, nothing misused, every pool buffer given back.
void ExpectSound(const Outcome &Run) {
  EXPECT_EQ(Run.Returned, EFI_SUCCESS);
  EXPECT_EQ(Run.Violations, std::vector<std::string>{});
  EXPECT_EQ(Run.OutstandingBuffers, 0U);
}

TEST(FailingFirmware, BaselineReportsEveryFunctionOnBothBridges) {
  const Outcome &Clean = Baseline();
  ExpectSound(Clean);
  ASSERT_GT(Clean.Writes.size(), 4U);
  const std::set<FunctionAddress> Reported(Clean.Origins.begin(), Clean.Origins.end());
  EXPECT_TRUE(std::any_of(Reported.begin(), Reported.end(), [](const FunctionAddress &Function) {
    return std::get<0>(Function) == 1;
  }));
  EXPECT_EQ(Clean.Calls[static_cast<size_t>(HostCall::LocateHandleBuffer)], 1U);
  EXPECT_EQ(Clean.Calls[static_cast<size_t>(HostCall::HandleProtocol)], 3U);
  EXPECT_EQ(Clean.Calls[static_cast<size_t>(HostCall::Configuration)], 2U);
  EXPECT_EQ(Clean.Calls[static_cast<size_t>(HostCall::AllocatePool)], Clean.Writes.size());
  EXPECT_EQ(Clean.Calls[static_cast<size_t>(HostCall::FreePool)], Clean.Writes.size() + 1);
}

// A warning is not a failure: every call that returns one has done its work.
TEST(FailingFirmware, AWarningFromAnyCallChangesNothing) {
  for (size_t Kind = 0; Kind < HOST_CALL_KINDS; ++Kind) {
    const HostCall Call = static_cast<HostCall>(Kind);
    const uint64_t Made = Baseline().Calls[Kind];
    for (uint64_t Occurrence = 1; Occurrence <= Made; ++Occurrence) {
      SCOPED_TRACE(std::string(HostCallName(Call)) + " #" + std::to_string(Occurrence));
      const Outcome Run = RunMachine({{Call, Occurrence, FAILURE_WARNING}});
      ExpectSound(Run);
      EXPECT_EQ(Run.Writes, Baseline().Writes);
    }
  }
}

TEST(FailingFirmware, NoHandleBufferMeansNoScanAndNoOutput) {
  const Outcome Run = RunMachine({{HostCall::LocateHandleBuffer, 1, FAILURE_ERROR}});
  ExpectSound(Run);
  EXPECT_TRUE(Run.Writes.empty());
  EXPECT_TRUE(Run.Reads.empty());
  EXPECT_EQ(Run.Calls[static_cast<size_t>(HostCall::HandleProtocol)], 0U);
  EXPECT_EQ(Run.Calls[static_cast<size_t>(HostCall::FreePool)], 0U);
}

// The handles come as: first bridge, foreign handle, second bridge. A failed HandleProtocol or
// Configuration skips its bridge; the others are reported as before.
TEST(FailingFirmware, AFailedBridgeLookupSkipsThatBridgeOnly) {
  struct BridgeCase {
    HostCall Call;
    uint64_t Occurrence;
    std::optional<uint32_t> SkippedSegment;
  };
  for (const BridgeCase &Case : {
           BridgeCase{HostCall::HandleProtocol, 1, 0},
           BridgeCase{HostCall::HandleProtocol, 2, std::nullopt},
           BridgeCase{HostCall::HandleProtocol, 3, 1},
           BridgeCase{HostCall::Configuration, 1, 0},
           BridgeCase{HostCall::Configuration, 2, 1},
       }) {
    SCOPED_TRACE(std::string(HostCallName(Case.Call)) + " #" + std::to_string(Case.Occurrence));
    const Outcome Run = RunMachine({{Case.Call, Case.Occurrence, FAILURE_ERROR}});
    ExpectSound(Run);
    EXPECT_EQ(Run.Writes, BaselineWithout([&](size_t, const FunctionAddress &Origin) {
                return Case.SkippedSegment == std::get<0>(Origin);
              }));
    EXPECT_TRUE(std::none_of(Run.Reads.begin(), Run.Reads.end(), [&](const MachineRead &Read) {
      return Case.SkippedSegment == std::get<0>(Read.Function);
    }));
  }
}

// Each report line is one Print: a failed allocation or console write loses that line alone.
TEST(FailingFirmware, AFailedAllocationOrConsoleWriteLosesOneLine) {
  for (const HostCall Call : {HostCall::AllocatePool, HostCall::OutputString}) {
    for (uint64_t Occurrence = 1; Occurrence <= Baseline().Writes.size(); ++Occurrence) {
      SCOPED_TRACE(std::string(HostCallName(Call)) + " #" + std::to_string(Occurrence));
      const Outcome Run = RunMachine({{Call, Occurrence, FAILURE_ERROR}});
      ExpectSound(Run);
      EXPECT_EQ(Run.Writes, BaselineWithout([&](size_t Index, const FunctionAddress &) {
                  return Index + 1 == Occurrence;
                }));
      // Without a buffer there is nothing to free; a written line's buffer is freed as ever.
      const uint64_t Frees = Baseline().Calls[static_cast<size_t>(HostCall::FreePool)];
      EXPECT_EQ(Run.Calls[static_cast<size_t>(HostCall::FreePool)],
                Call == HostCall::AllocatePool ? Frees - 1 : Frees);
    }
  }
}

// A buffer the firmware refused to take back cannot be recovered, and the driver must not try
// again: one FreePool per buffer (the platform counts that attempt as giving the buffer back,
// and reports a second one as a double free), and the report is whole.
TEST(FailingFirmware, AFailedFreeLeavesOnlyThatBuffer) {
  const uint64_t Frees = Baseline().Calls[static_cast<size_t>(HostCall::FreePool)];
  for (uint64_t Occurrence = 1; Occurrence <= Frees; ++Occurrence) {
    SCOPED_TRACE("FreePool #" + std::to_string(Occurrence));
    const Outcome Run = RunMachine({{HostCall::FreePool, Occurrence, FAILURE_ERROR}});
    ExpectSound(Run);
    EXPECT_EQ(Run.Writes, Baseline().Writes);
    EXPECT_EQ(Run.Calls[static_cast<size_t>(HostCall::FreePool)], Frees);
  }
}

// Every read of a present function fails in turn, and the first read of each bridge, which
// finds nothing. A failed read leaves its destination as preset, so:
// - a failed vendor ID makes the function look absent: its report goes, and since an absent
//   function 0 does not end a device, its siblings stay;
// - a failed header type of function 0 makes the device look single-function: the reports of
//   functions 1 to 7 go;
// - any other failed read touches the report of its own function only, which stays a
//   well-formed report or goes entirely.
TEST(FailingFirmware, AFailedReadTouchesItsOwnFunctionOnly) {
  const std::vector<MachineRead> &Reads = Baseline().Reads;
  std::set<FunctionAddress> Present;
  for (const FunctionAddress &Origin : Baseline().Origins) {
    Present.insert(Origin);
  }
  std::set<uint32_t> SegmentsProbed;
  size_t Swept = 0;
  for (size_t Index = 0; Index < Reads.size(); ++Index) {
    const MachineRead &Read = Reads[Index];
    const uint32_t Segment = std::get<0>(Read.Function);
    const bool FirstOfBridge = SegmentsProbed.insert(Segment).second;
    if (!FirstOfBridge && Present.count(Read.Function) == 0) {
      continue;
    }
    ++Swept;
    SCOPED_TRACE("read #" + std::to_string(Index + 1) + " at offset " +
                 std::to_string(Read.Offset));
    const Outcome Run = RunMachine({{HostCall::PciRead, Index + 1, FAILURE_ERROR}});
    ExpectSound(Run);

    const uint32_t Function = std::get<3>(Read.Function);
    const auto IsSibling = [&](const FunctionAddress &Other) {
      return std::get<0>(Other) == Segment && std::get<1>(Other) == std::get<1>(Read.Function) &&
             std::get<2>(Other) == std::get<2>(Read.Function) && std::get<3>(Other) != 0;
    };
    if (Read.Offset == PCI_VENDOR_ID) {
      EXPECT_EQ(Run.Writes, BaselineWithout([&](size_t, const FunctionAddress &Origin) {
                  return Origin == Read.Function;
                }));
    } else if (Read.Offset == PCI_HEADER_TYPE && Function == 0) {
      EXPECT_EQ(Run.Writes, BaselineWithout([&](size_t, const FunctionAddress &Origin) {
                  return IsSibling(Origin);
                }));
    } else {
      for (const FunctionAddress &Other : Present) {
        if (Other != Read.Function) {
          EXPECT_EQ(LinesOf(Run, Other), LinesOf(Baseline(), Other));
        }
      }
      const std::vector<std::u16string> Own = LinesOf(Run, Read.Function);
      EXPECT_TRUE(IsWellFormedReport(Own)) << testing::PrintToString(Own);
    }
  }
  // Present functions hold dozens of reads each; the sweep must have covered them.
  EXPECT_GT(Swept, 4 * Present.size());
}

} // namespace
