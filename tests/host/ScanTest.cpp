// The bus, device and function scan and both capability walks, observed through the bridge's
// read log and the hand-offs to the evaluation.
#include <algorithm>
#include <set>

#include "driver/CapabilityWalk.h"
#include "tests/host/EvaluationRecorder.h"
#include "tests/host/HostTestSupport.h"

namespace {

class ScanTest : public HostPlatformTest {
protected:
  void SetUp() override { RecordedEvaluations.clear(); }

  // Runs the driver over one bridge holding Functions, with a bus range of 0 to MaxBus.
  HostRootBridge &Scan(const ConfigImage &Functions, uint64_t MaxBus = 0) {
    HostRootBridge &Bridge = Platform.AddRootBridge(Functions, BusDescriptor(0, MaxBus));
    EXPECT_EQ(Platform.RunDriverEntry(), EFI_SUCCESS);
    return Bridge;
  }

  // Reads the scan made of one function.
  static std::vector<PciReadRecord> ReadsOf(const HostRootBridge &Bridge, uint32_t Bus,
                                            uint32_t Device, uint32_t Function) {
    std::vector<PciReadRecord> Reads;
    for (const PciReadRecord &Read : Bridge.Reads) {
      const DecodedPciAddress Decoded = DecodePciAddress(Read.Address);
      if (Decoded.Bus == Bus && Decoded.Device == Device && Decoded.Function == Function) {
        Reads.push_back(Read);
      }
    }
    return Reads;
  }

  static bool ReadsAtOrAbove(const std::vector<PciReadRecord> &Reads, uint32_t Offset) {
    return std::any_of(Reads.begin(), Reads.end(), [Offset](const PciReadRecord &Read) {
      return DecodePciAddress(Read.Address).Offset >= Offset;
    });
  }
};

// A PCI Express function with a Resizable BAR capability at 0x100.
ConfigFunction RebarFunction(uint8_t Bus, uint8_t Device, uint8_t Function,
                             uint8_t HeaderType = 0) {
  ConfigFunction Made = MakeFunction(Bus, Device, Function, 0x10DE, 0x2684);
  Put8(Made, 0x0E, HeaderType);
  AddExpressCapability(Made);
  AddRebar(Made, 0x100, {{0x3FF0, RebarControl(1, 8)}});
  return Made;
}

TEST_F(ScanTest, EmptyBusCostsTwoIdReadsPerAddress) {
  const HostRootBridge &Bridge = Scan({});
  ASSERT_EQ(Bridge.Reads.size(), 32U * 8U * 2U);
  // Visited in bus, device, function order, vendor ID then device ID.
  for (size_t Index = 0; Index < Bridge.Reads.size(); ++Index) {
    const PciReadRecord &Read = Bridge.Reads[Index];
    const DecodedPciAddress Decoded = DecodePciAddress(Read.Address);
    EXPECT_EQ(Read.Width, EfiPciWidthUint16);
    EXPECT_EQ(Decoded.Device * 8 + Decoded.Function, Index / 2);
    EXPECT_EQ(Decoded.Offset, Index % 2 == 0 ? 0U : 2U);
  }
  EXPECT_TRUE(RecordedEvaluations.empty());
}

TEST_F(ScanTest, SingleFunctionDeviceSkipsFunctionsOneToSeven) {
  ConfigFunction Conventional = MakeFunction(0, 3, 0, 0x8086, 0x100E, CONVENTIONAL_SPACE);
  const HostRootBridge &Bridge = Scan({Conventional});
  for (uint32_t Function = 1; Function <= 7; ++Function) {
    EXPECT_TRUE(ReadsOf(Bridge, 0, 3, Function).empty()) << "function " << Function;
  }
  // Vendor, device, capability pointer (0: no list) and header type.
  const std::vector<PciReadRecord> Reads = ReadsOf(Bridge, 0, 3, 0);
  ASSERT_EQ(Reads.size(), 4U);
  EXPECT_EQ(DecodePciAddress(Reads[2].Address).Offset, 0x34U);
  EXPECT_EQ(DecodePciAddress(Reads[3].Address).Offset, 0x0EU);
  EXPECT_EQ(Bridge.Reads.size(), 31U * 8U * 2U + 4U);
}

TEST_F(ScanTest, MultiFunctionDeviceVisitsAllEightFunctions) {
  for (const uint8_t HeaderType : {0x80, 0x81}) {
    SCOPED_TRACE(testing::Message() << "header type " << int{HeaderType});
    HostPlatform Local;
    RecordedEvaluations.clear();
    ConfigFunction Zero = RebarFunction(0, 2, 0, HeaderType);
    ConfigFunction Five = RebarFunction(0, 2, 5);
    HostRootBridge &Bridge = Local.AddRootBridge({Zero, Five}, BusDescriptor(0, 0));
    Local.RunDriverEntry();
    for (uint32_t Function = 0; Function <= 7; ++Function) {
      EXPECT_FALSE(ReadsOf(Bridge, 0, 2, Function).empty()) << "function " << Function;
    }
    // Absent functions cost only their two ID reads.
    EXPECT_EQ(ReadsOf(Bridge, 0, 2, 3).size(), 2U);
    const std::vector<RecordedEvaluation> Expected = {
        {PciFunctionBase(0, 2, 0), 0x100, 0x10DE, 0x2684},
        {PciFunctionBase(0, 2, 5), 0x100, 0x10DE, 0x2684}};
    EXPECT_EQ(RecordedEvaluations, Expected);
    EXPECT_TRUE(Local.Check().empty());
    ActiveHostPlatform = &Platform;
  }
}

TEST_F(ScanTest, AbsentFunctionZeroDoesNotEndTheDevice) {
  Scan({RebarFunction(0, 5, 1)});
  const std::vector<RecordedEvaluation> Expected = {
      {PciFunctionBase(0, 5, 1), 0x100, 0x10DE, 0x2684}};
  EXPECT_EQ(RecordedEvaluations, Expected);
}

TEST_F(ScanTest, ConventionalFunctionIsNeverReadInExtendedSpace) {
  // A capability list without the PCI Express capability, in a full 4096-byte space.
  ConfigFunction Function = MakeFunction(0, 4, 0, 0x1AF4, 0x1000);
  Put8(Function, 0x34, 0x40);
  Put8(Function, 0x40, 0x01);
  Put8(Function, 0x41, 0x50);
  Put8(Function, 0x50, 0x05);
  Put8(Function, 0x51, 0x00);
  AddRebar(Function, 0x100, {{0x3FF0, RebarControl(0, 8)}});
  const HostRootBridge &Bridge = Scan({Function});
  EXPECT_FALSE(ReadsAtOrAbove(ReadsOf(Bridge, 0, 4, 0), 0x100));
  EXPECT_TRUE(RecordedEvaluations.empty());
}

// One row per extended chain shape: where headers stand, and the offset expected.
struct ChainRow {
  const char *Name;
  std::vector<std::pair<uint32_t, uint32_t>> Headers; // offset, header
  uint16_t Expected;
  size_t ExtendedReads;
};

const ChainRow ChainRows[] = {
    {"header 0 at 0x100", {{0x100, 0}}, 0, 1},
    {"all ones at 0x100", {{0x100, 0xFFFFFFFF}}, 0, 1},
    {"first capability", {{0x100, ExtHeader(0x15, 1, 0)}}, 0x100, 1},
    {"second capability",
     {{0x100, ExtHeader(0x01, 2, 0x150)}, {0x150, ExtHeader(0x15, 1, 0)}},
     0x150,
     2},
    {"next below 0x100 after mask", {{0x100, ExtHeader(0x01, 1, 0x0FE)}}, 0, 1},
    {"next low bits masked",
     {{0x100, ExtHeader(0x01, 1, 0x153)}, {0x150, ExtHeader(0x15, 1, 0)}},
     0x150,
     2},
    {"version bits ignored", {{0x100, ExtHeader(0x15, 0xF, 0)}}, 0x100, 1},
    {"all 16 ID bits compared", {{0x100, ExtHeader(0x115, 1, 0)}}, 0, 1},
    {"chain end", {{0x100, ExtHeader(0x01, 1, 0x140)}, {0x140, ExtHeader(0x0B, 1, 0)}}, 0, 2},
    {"loop on itself", {{0x100, ExtHeader(0x01, 1, 0x100)}}, 0, 481},
    {"later all ones walks on", {{0x100, ExtHeader(0x01, 1, 0xFFC)}, {0xFFC, 0xFFFFFFFF}}, 0, 481},
};

TEST_F(ScanTest, ExtendedCapabilityChains) {
  for (const ChainRow &Row : ChainRows) {
    SCOPED_TRACE(Row.Name);
    ConfigFunction Function = MakeFunction(0, 0, 0, 0x1002, 0x73BF);
    AddExpressCapability(Function);
    for (const auto &[Offset, Header] : Row.Headers) {
      Put32(Function, Offset, Header);
    }
    HostRootBridge &Bridge = Platform.AddRootBridge({Function}, BusDescriptor(0, 0));
    ActiveRootBridgeIo = &Bridge.Shell.Protocol;
    EXPECT_EQ(FindRebarCapability(PciFunctionBase(0, 0, 0)), Row.Expected);
    EXPECT_EQ(Bridge.Reads.size(), Row.ExtendedReads);
    EXPECT_TRUE(std::all_of(Bridge.Reads.begin(), Bridge.Reads.end(),
                            [](const auto &Read) { return Read.Width == EfiPciWidthUint32; }));
  }
}

// A chain of distinct headers 4 bytes apart: the 480th header is the last one examined.
TEST_F(ScanTest, ExtendedWalkExaminesAtMost480Headers) {
  for (const uint32_t Position : {480U, 481U}) {
    SCOPED_TRACE(testing::Message() << "capability at header " << Position);
    ConfigFunction Function = MakeFunction(0, 0, 0, 0x1002, 0x73BF);
    for (uint32_t Index = 1; Index <= Position; ++Index) {
      const uint32_t Offset = 0x100 + 4 * (Index - 1);
      Put32(Function, Offset,
            Index == Position ? ExtHeader(0x15, 1, 0) : ExtHeader(0x01, 1, Offset + 4));
    }
    HostRootBridge &Bridge = Platform.AddRootBridge({Function}, BusDescriptor(0, 0));
    ActiveRootBridgeIo = &Bridge.Shell.Protocol;
    EXPECT_EQ(FindRebarCapability(PciFunctionBase(0, 0, 0)), Position == 480 ? 0x100 + 4 * 479 : 0);
    EXPECT_EQ(Bridge.Reads.size(), Position == 480 ? 480U : 481U);
  }
}

TEST_F(ScanTest, FailedExtendedReadEndsTheSearch) {
  ConfigFunction Function = MakeFunction(0, 0, 0, 0x1002, 0x73BF);
  Put32(Function, 0x100, ExtHeader(0x01, 1, 0x150));
  Put32(Function, 0x150, ExtHeader(0x15, 1, 0));
  HostRootBridge &Bridge = Platform.AddRootBridge({Function}, BusDescriptor(0, 0));
  ActiveRootBridgeIo = &Bridge.Shell.Protocol;
  for (const uint32_t FailingOffset : {0x100U, 0x150U}) {
    SCOPED_TRACE(testing::Message() << "failing at " << FailingOffset);
    Bridge.ReadFault = [FailingOffset](uint64_t Address, auto) -> std::optional<EFI_STATUS> {
      if (DecodePciAddress(Address).Offset == FailingOffset) {
        return EFI_DEVICE_ERROR;
      }
      return std::nullopt;
    };
    EXPECT_EQ(FindRebarCapability(PciFunctionBase(0, 0, 0)), 0);
  }
  // A warning is success: the walk goes on.
  Bridge.ReadFault = [](uint64_t, auto) -> std::optional<EFI_STATUS> {
    return EFI_WARN_STALE_DATA;
  };
  EXPECT_EQ(FindRebarCapability(PciFunctionBase(0, 0, 0)), 0x150);
}

TEST_F(ScanTest, StandardCapabilityWalk) {
  struct Row {
    const char *Name;
    std::vector<std::pair<uint8_t, uint8_t>> Bytes; // offset, value
    bool Express;
    size_t Reads;
  };
  const Row Rows[] = {
      {"no list", {{0x34, 0x00}}, false, 1},
      {"express first", {{0x34, 0x40}, {0x40, 0x10}}, true, 2},
      {"express second", {{0x34, 0x40}, {0x40, 0x01}, {0x41, 0x60}, {0x60, 0x10}}, true, 4},
      {"list without express", {{0x34, 0x40}, {0x40, 0x01}, {0x41, 0x00}}, false, 3},
      {"pointer low bits used as read", {{0x34, 0x41}, {0x41, 0x10}}, true, 2},
      {"loop ends after 48 entries", {{0x34, 0x40}, {0x40, 0x01}, {0x41, 0x40}}, false, 97},
  };
  for (const Row &Case : Rows) {
    SCOPED_TRACE(Case.Name);
    ConfigFunction Function = MakeFunction(0, 0, 0, 0x8086, 0x1234, CONVENTIONAL_SPACE);
    for (const auto &[Offset, Value] : Case.Bytes) {
      Put8(Function, Offset, Value);
    }
    HostRootBridge &Bridge = Platform.AddRootBridge({Function}, BusDescriptor(0, 0));
    ActiveRootBridgeIo = &Bridge.Shell.Protocol;
    EXPECT_EQ(HasPciExpressCapability(PciFunctionBase(0, 0, 0)), Case.Express);
    EXPECT_EQ(Bridge.Reads.size(), Case.Reads);
  }
}

// Reads whose status the scan does not test still never feed it undefined values: a failed ID
// read looks like an absent function, a failed pointer read like an absent list.
TEST_F(ScanTest, FailedUntestedReadsLookAbsent) {
  struct Row {
    const char *Name;
    uint32_t FailingOffset;
    size_t Evaluations;
  };
  const Row Rows[] = {
      {"vendor ID", 0x00, 0},
      {"device ID", 0x02, 1},
      {"capability pointer", 0x34, 0},
      {"header type", 0x0E, 1},
  };
  for (const Row &Case : Rows) {
    SCOPED_TRACE(Case.Name);
    HostPlatform Local;
    RecordedEvaluations.clear();
    HostRootBridge &Bridge = Local.AddRootBridge({RebarFunction(0, 1, 0)}, BusDescriptor(0, 0));
    Bridge.ReadFault = [&Case](uint64_t Address, auto) -> std::optional<EFI_STATUS> {
      const DecodedPciAddress Decoded = DecodePciAddress(Address);
      if (Decoded.Device == 1 && Decoded.Offset == Case.FailingOffset) {
        return EFI_DEVICE_ERROR;
      }
      return std::nullopt;
    };
    EXPECT_EQ(Local.RunDriverEntry(), EFI_SUCCESS);
    EXPECT_EQ(RecordedEvaluations.size(), Case.Evaluations);
    if (Case.Evaluations == 1) {
      // A failed device ID read hands over the preset all-ones ID.
      EXPECT_EQ(RecordedEvaluations[0].DeviceId, Case.FailingOffset == 0x02 ? 0xFFFF : 0x2684);
    }
    // A function taken for absent leaves functions 1 to 7 to be probed; a present one whose
    // header type read fails counts as single-function.
    EXPECT_EQ(ReadsOf(Bridge, 0, 1, 1).empty(), Case.FailingOffset != 0x00);
    EXPECT_TRUE(Local.Check().empty());
    ActiveHostPlatform = &Platform;
  }
}

TEST_F(ScanTest, BusRangeMaximumBoundsTheScan) {
  struct Row {
    const char *Name;
    uint64_t Minimum;
    uint64_t Maximum;
    uint32_t LastBus;
  };
  const Row Rows[] = {
      {"0..0x3F", 0, 0x3F, 0x3F},
      {"0x80..0xFF starts at 0", 0x80, 0xFF, 0xFF},
      {"above 255 stops at 255", 0, 0x1FF, 0xFF},
      {"0xFFFF ends", 0, 0xFFFF, 0xFF},
      {"only low 16 bits count", 0, 0x10001, 1},
  };
  for (const Row &Case : Rows) {
    SCOPED_TRACE(Case.Name);
    HostPlatform Local;
    HostRootBridge &Bridge = Local.AddRootBridge({}, BusDescriptor(Case.Minimum, Case.Maximum));
    EXPECT_EQ(Local.RunDriverEntry(), EFI_SUCCESS);
    std::set<uint32_t> Buses;
    for (const PciReadRecord &Read : Bridge.Reads) {
      Buses.insert(DecodePciAddress(Read.Address).Bus);
    }
    EXPECT_EQ(Buses.size(), Case.LastBus + 1);
    EXPECT_EQ(*Buses.rbegin(), Case.LastBus);
    EXPECT_EQ(Bridge.Reads.size(), (Case.LastBus + 1) * 32U * 8U * 2U);
    EXPECT_TRUE(std::none_of(Bridge.Reads.begin(), Bridge.Reads.end(),
                             [](const auto &Read) { return Read.Address >> 32 != 0; }));
    ActiveHostPlatform = &Platform;
  }
}

} // namespace
