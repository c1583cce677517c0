// The entry point and the walk over root bridges and their resource descriptors, failures of
// every firmware call on the way included.
#include <set>

#include "driver/DriverEntry.h"
#include "tests/host/EvaluationRecorder.h"
#include "tests/host/HostTestSupport.h"

namespace {

class RootBridgeWalkTest : public HostPlatformTest {
protected:
  void SetUp() override { RecordedEvaluations.clear(); }

  // The distinct buses a bridge was read on, and how many times bus 0 device 0 function 0
  // was probed (one per scan).
  static size_t ScansOf(const HostRootBridge &Bridge) {
    size_t Scans = 0;
    for (const PciReadRecord &Read : Bridge.Reads) {
      Scans += Read.Address == 0 ? 1 : 0;
    }
    return Scans;
  }
  static uint32_t LastBusOf(const HostRootBridge &Bridge) {
    uint32_t Last = 0;
    for (const PciReadRecord &Read : Bridge.Reads) {
      Last = std::max(Last, DecodePciAddress(Read.Address).Bus);
    }
    return Last;
  }
};

TEST_F(RootBridgeWalkTest, EntryRecordsGlobalsAndReturnsSuccess) {
  HostRootBridge &Bridge = Platform.AddRootBridge({}, BusDescriptor(0, 0));
  EXPECT_EQ(DriverEntry(Platform.ImageHandle, &Platform.SystemTable), EFI_SUCCESS);
  EXPECT_EQ(ImageHandle, Platform.ImageHandle);
  EXPECT_EQ(SystemTable, &Platform.SystemTable);
  EXPECT_EQ(BootServices, &Platform.BootServices);
  EXPECT_EQ(RuntimeServices, &Platform.RuntimeServices);
  EXPECT_EQ(SizeIndexCeiling, 255);
  EXPECT_EQ(ActiveRootBridgeIo, &Bridge.Shell.Protocol);
  EXPECT_EQ(Platform.Calls(HostCall::FreePool), 1U);
  EXPECT_TRUE(Platform.ConsoleWrites.empty());
}

TEST_F(RootBridgeWalkTest, NoRootBridgesScansNothing) {
  EXPECT_EQ(Platform.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(Platform.Calls(HostCall::LocateHandleBuffer), 1U);
  EXPECT_EQ(Platform.Calls(HostCall::HandleProtocol), 0U);
  EXPECT_EQ(Platform.Calls(HostCall::FreePool), 0U);
  EXPECT_TRUE(Platform.ConsoleWrites.empty());
}

TEST_F(RootBridgeWalkTest, DescriptorListsSelectBusRanges) {
  struct Row {
    const char *Name;
    std::vector<std::vector<uint8_t>> Descriptors;
    size_t Scans;
    uint32_t LastBus;
  };
  const Row Rows[] = {
      {"memory and I/O only",
       {MemoryDescriptor(0x80000000, 0xFFFFFFFF), IoDescriptor(0, 0xFFFF)},
       0,
       0},
      {"bus range among others",
       {IoDescriptor(0, 0xFFFF), BusDescriptor(0, 0x3F), MemoryDescriptor(0, 0xFFFFF)},
       1,
       0x3F},
      {"two bus ranges, each from bus 0", {BusDescriptor(0, 1), BusDescriptor(0x40, 2)}, 2, 2},
      {"minimum ignored", {BusDescriptor(0x80, 0x81)}, 1, 0x81},
      {"only an end tag", {}, 0, 0},
  };
  for (const Row &Case : Rows) {
    SCOPED_TRACE(Case.Name);
    HostPlatform Local;
    std::vector<uint8_t> List;
    for (const std::vector<uint8_t> &Descriptor : Case.Descriptors) {
      List.insert(List.end(), Descriptor.begin(), Descriptor.end());
    }
    HostRootBridge &Bridge = Local.AddRootBridge({}, List);
    EXPECT_EQ(Local.RunDriverEntry(), EFI_SUCCESS);
    EXPECT_EQ(ScansOf(Bridge), Case.Scans);
    EXPECT_EQ(LastBusOf(Bridge), Case.LastBus);
    EXPECT_EQ(Bridge.ConfigurationCalls, 1U);
    EXPECT_TRUE(Local.Check().empty());
    ActiveHostPlatform = &Platform;
  }
}

// The walk steps by the descriptor's fixed size, whatever its length field says.
TEST_F(RootBridgeWalkTest, DescriptorLengthFieldIsNotTrusted) {
  std::vector<uint8_t> Memory = MemoryDescriptor(0, 0xFFFFF);
  Memory[1] = 0xFF;
  Memory[2] = 0x00;
  std::vector<uint8_t> List = Memory;
  const std::vector<uint8_t> Bus = BusDescriptor(0, 1);
  List.insert(List.end(), Bus.begin(), Bus.end());
  HostRootBridge &Bridge = Platform.AddRootBridge({}, List);
  Platform.RunDriverEntry();
  EXPECT_EQ(ScansOf(Bridge), 1U);
  EXPECT_EQ(LastBusOf(Bridge), 1U);
}

TEST_F(RootBridgeWalkTest, BridgesAreWalkedOneAfterAnotherInBufferOrder) {
  HostRootBridge &First = Platform.AddRootBridge({}, BusDescriptor(0, 1));
  HostRootBridge &Second = Platform.AddRootBridge({}, BusDescriptor(0, 0));
  Platform.RunDriverEntry();
  ASSERT_EQ(First.TotalReadsAtConfiguration.size(), 1U);
  ASSERT_EQ(Second.TotalReadsAtConfiguration.size(), 1U);
  EXPECT_EQ(First.TotalReadsAtConfiguration[0], 0U);
  // Every read of the first bridge's scan happened before the second was asked.
  EXPECT_EQ(Second.TotalReadsAtConfiguration[0], First.Reads.size());
  EXPECT_EQ(First.Reads.size(), 2U * 32U * 8U * 2U);
  EXPECT_EQ(Second.Reads.size(), 32U * 8U * 2U);
  EXPECT_EQ(ActiveRootBridgeIo, &Second.Shell.Protocol);
}

// A failure of one handle's calls skips that handle only; the handle buffer is always freed.
TEST_F(RootBridgeWalkTest, FailingHandleIsSkipped) {
  struct Row {
    const char *Name;
    HostCall Call;
    EFI_STATUS Status;
    bool FirstScanned;
  };
  const Row Rows[] = {
      {"HandleProtocol error", HostCall::HandleProtocol, EFI_UNSUPPORTED, false},
      {"Configuration error", HostCall::Configuration, EFI_DEVICE_ERROR, false},
      {"HandleProtocol warning", HostCall::HandleProtocol, EFI_WARN_STALE_DATA, true},
      {"Configuration warning", HostCall::Configuration, EFI_WARN_STALE_DATA, true},
  };
  for (const Row &Case : Rows) {
    SCOPED_TRACE(Case.Name);
    HostPlatform Local;
    HostRootBridge &First = Local.AddRootBridge({}, BusDescriptor(0, 0));
    HostRootBridge &Second = Local.AddRootBridge({}, BusDescriptor(0, 0));
    Local.InjectFault(Case.Call, 1, Case.Status);
    EXPECT_EQ(Local.RunDriverEntry(), EFI_SUCCESS);
    EXPECT_EQ(ScansOf(First), Case.FirstScanned ? 1U : 0U);
    EXPECT_EQ(ScansOf(Second), 1U);
    EXPECT_EQ(Local.Calls(HostCall::FreePool), 1U);
    EXPECT_TRUE(Local.Check().empty());
    ActiveHostPlatform = &Platform;
  }
}

TEST_F(RootBridgeWalkTest, HandleWithoutBridgeAndNullDescriptorsAreSkipped) {
  Platform.AddForeignHandle();
  HostRootBridge &Empty = Platform.AddRootBridge({}, BusDescriptor(0, 0));
  Empty.NullDescriptors = true;
  HostRootBridge &Last = Platform.AddRootBridge({}, BusDescriptor(0, 0));
  EXPECT_EQ(Platform.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_TRUE(Empty.Reads.empty());
  EXPECT_EQ(ScansOf(Last), 1U);
}

TEST_F(RootBridgeWalkTest, LocateHandleBufferOutcomes) {
  struct Row {
    const char *Name;
    EFI_STATUS Status;
    bool NoBuffer;
    size_t Scans;
    uint64_t Frees;
  };
  const Row Rows[] = {
      {"error: nothing scanned, nothing freed", EFI_OUT_OF_RESOURCES, false, 0, 0},
      {"warning: scanned and freed", EFI_WARN_BUFFER_TOO_SMALL, false, 1, 1},
      {"success without a buffer: nothing to free", EFI_SUCCESS, true, 0, 0},
  };
  for (const Row &Case : Rows) {
    SCOPED_TRACE(Case.Name);
    HostPlatform Local;
    HostRootBridge &Bridge = Local.AddRootBridge({}, BusDescriptor(0, 0));
    Local.LocateReturnsNoBuffer = Case.NoBuffer;
    if (Case.Status != EFI_SUCCESS) {
      Local.InjectFault(HostCall::LocateHandleBuffer, 1, Case.Status);
    }
    EXPECT_EQ(Local.RunDriverEntry(), EFI_SUCCESS);
    EXPECT_EQ(ScansOf(Bridge), Case.Scans);
    EXPECT_EQ(Local.Calls(HostCall::FreePool), Case.Frees);
    EXPECT_TRUE(Local.Check().empty());
    ActiveHostPlatform = &Platform;
  }
}

// A failing FreePool of the handle buffer changes nothing the driver reports.
TEST_F(RootBridgeWalkTest, FreePoolFailureIsIgnored) {
  Platform.AddRootBridge({}, BusDescriptor(0, 0));
  Platform.InjectFault(HostCall::FreePool, 0, EFI_INVALID_PARAMETER);
  EXPECT_EQ(Platform.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(Platform.Calls(HostCall::FreePool), 1U);
}

} // namespace
