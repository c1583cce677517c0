// The Resizable BAR evaluation and its report, end to end from DriverEntry to the console.
#include "driver/RebarEvaluation.h"
#include "tests/host/HostTestSupport.h"

namespace {

using Entries = std::vector<std::pair<uint32_t, uint32_t>>;

struct ReportRow {
  const char *Name;
  uint16_t VendorId;
  uint16_t DeviceId;
  Entries RebarEntries; // capability register, control register
  int Count;            // entry count field of entry 0; -1: the number of entries
  const char *Expected;
};

constexpr uint16_t AMD = 0x1002;
constexpr uint16_t NAVI10 = 0x731F;
constexpr uint16_t NVIDIA = 0x10DE;

const ReportRow ReportRows[] = {
    {"256 MB to 1 GB, current 256 MB",
     NVIDIA,
     0x2684,
     {{0x7000, RebarControl(0, 8)}},
     -1,
     "RBarSizes 1792\r\nBAR 0 RBAR CURRENT 8 RBAR MAX 10 RBAR NEW 10\r\n"},
    {"override device, BAR 0",
     AMD,
     NAVI10,
     {{0x7000, RebarControl(0, 8)}},
     -1,
     "RBarSizes 16128\r\nBAR 0 RBAR CURRENT 8 RBAR MAX 13 RBAR NEW 13\r\n"},
    {"override device, BAR 2: no override",
     AMD,
     NAVI10,
     {{0x7000, RebarControl(2, 8)}},
     -1,
     "RBarSizes 1792\r\nBAR 2 RBAR CURRENT 8 RBAR MAX 10 RBAR NEW 10\r\n"},
    {"override device with 2 GB too: no override",
     AMD,
     NAVI10,
     {{0xF000, RebarControl(0, 8)}},
     -1,
     "RBarSizes 3840\r\nBAR 0 RBAR CURRENT 8 RBAR MAX 11 RBAR NEW 11\r\n"},
    {"other AMD device: no override",
     AMD,
     0x73BF,
     {{0x7000, RebarControl(0, 8)}},
     -1,
     "RBarSizes 1792\r\nBAR 0 RBAR CURRENT 8 RBAR MAX 10 RBAR NEW 10\r\n"},
    {"current is the highest",
     NVIDIA,
     1,
     {{0x7000, RebarControl(0, 10)}},
     -1,
     "RBarSizes 1792\r\nBAR 0 RBAR CURRENT 10 RBAR MAX 10 RBAR NEW 9\r\n"},
    {"current below the highest",
     NVIDIA,
     1,
     {{0x7000, RebarControl(0, 9)}},
     -1,
     "RBarSizes 1792\r\nBAR 0 RBAR CURRENT 9 RBAR MAX 10 RBAR NEW 10\r\n"},
    {"only 1 MB", NVIDIA, 1, {{0x0010, RebarControl(0, 0)}}, -1, "RBarSizes 1\r\n"},
    {"1 MB and 2 MB, current 2 MB",
     NVIDIA,
     1,
     {{0x0030, RebarControl(0, 1)}},
     -1,
     "RBarSizes 3\r\n"},
    {"1 MB and 2 MB, current 1 MB",
     NVIDIA,
     1,
     {{0x0030, RebarControl(0, 0)}},
     -1,
     "RBarSizes 3\r\nBAR 0 RBAR CURRENT 0 RBAR MAX 1 RBAR NEW 1\r\n"},
    {"entry count 0", NVIDIA, 1, {{0x7000, RebarControl(0, 8)}}, 0, ""},
    {"two entries for BAR 2: the first counts",
     NVIDIA,
     1,
     {{0x7000, RebarControl(2, 8)}, {0xFFFF0, RebarControl(2, 3)}},
     -1,
     "RBarSizes 1792\r\nBAR 2 RBAR CURRENT 8 RBAR MAX 10 RBAR NEW 10\r\n"},
    {"entry for BAR 7 never evaluated", NVIDIA, 1, {{0x7000, RebarControl(7, 8)}}, -1, ""},
    {"sizes above 512 GB ignored", NVIDIA, 1, {{0xFF000000, RebarControl(0, 8)}}, -1, ""},
    {"low capability bits ignored", NVIDIA, 1, {{0x0100000F, RebarControl(0, 3)}}, -1, ""},
    {"all sizes up to 512 GB",
     NVIDIA,
     1,
     {{0x00FFFFF0, RebarControl(1, 19)}},
     -1,
     "RBarSizes 1048575\r\nBAR 1 RBAR CURRENT 19 RBAR MAX 19 RBAR NEW 18\r\n"},
    {"BARs reported in index order",
     NVIDIA,
     1,
     {{0x3000, RebarControl(4, 8)}, {0x1000, RebarControl(0, 8)}, {0x0040, RebarControl(2, 0)}},
     -1,
     "RBarSizes 256\r\n"
     "RBarSizes 4\r\nBAR 2 RBAR CURRENT 0 RBAR MAX 2 RBAR NEW 2\r\n"
     "RBarSizes 768\r\nBAR 4 RBAR CURRENT 8 RBAR MAX 9 RBAR NEW 9\r\n"},
    {"count beyond the entries written",
     NVIDIA,
     1,
     {{0x7000, RebarControl(3, 8)}},
     7,
     "RBarSizes 1792\r\nBAR 3 RBAR CURRENT 8 RBAR MAX 10 RBAR NEW 10\r\n"},
};

class RebarReportTest : public HostPlatformTest {};

TEST_F(RebarReportTest, ReportLines) {
  for (const ReportRow &Row : ReportRows) {
    SCOPED_TRACE(Row.Name);
    HostPlatform Local;
    ConfigFunction Function = MakeFunction(0, 0, 0, Row.VendorId, Row.DeviceId);
    AddExpressCapability(Function);
    Put32(Function, 0x100, ExtHeader(0x0001, 2, 0x150));
    AddRebar(Function, 0x150, Row.RebarEntries, Row.Count);
    Local.AddRootBridge({Function}, BusDescriptor(0, 0));
    EXPECT_EQ(Local.RunDriverEntry(), EFI_SUCCESS);
    EXPECT_EQ(Local.ConsoleText(), Row.Expected);
    EXPECT_TRUE(Local.Check().empty());
    ActiveHostPlatform = &Platform;
  }
}

// The evaluation reads and never writes; its reads are the ones its rules call for: per BAR,
// two entry searches (each the count, then entries up to the match), the current control and
// the capability of the matching entry.
TEST_F(RebarReportTest, ReadsOfOneEvaluation) {
  ConfigFunction Function = MakeFunction(0, 0, 0, NVIDIA, 1);
  AddRebar(Function, 0x200, {{0x7000, RebarControl(1, 8)}, {0x3000, RebarControl(0, 8)}});
  HostRootBridge &Bridge = Platform.AddRootBridge({Function}, BusDescriptor(0, 0));
  ActiveRootBridgeIo = &Bridge.Shell.Protocol;
  BootServices = &Platform.BootServices;
  SystemTable = &Platform.SystemTable;
  SizeIndexCeiling = 255;
  EvaluateRebar(PciFunctionBase(0, 0, 0), 0x200, NVIDIA, 1);
  // BAR 0: entry 1 (2 searches x 3 reads + 2); BAR 1: entry 0 (2 x 2 + 2);
  // BARs 2 to 5: no entry (2 searches x 3 reads).
  EXPECT_EQ(Bridge.Reads.size(), 8U + 6U + 4U * 6U);
  EXPECT_EQ(Platform.ConsoleText(),
            "RBarSizes 768\r\nBAR 0 RBAR CURRENT 8 RBAR MAX 9 RBAR NEW 9\r\n"
            "RBarSizes 1792\r\nBAR 1 RBAR CURRENT 8 RBAR MAX 10 RBAR NEW 10\r\n");
}

TEST(RebarArithmeticTest, BitLength32) {
  const std::pair<UINT32, UINT64> Rows[] = {{0, 0},       {1, 1},           {0x7000, 15},
                                            {0x3F00, 14}, {0x80000000, 32}, {0xFFFFFFFF, 32}};
  for (const auto &[Value, Length] : Rows) {
    EXPECT_EQ(BitLength32(Value), Length) << "value " << Value;
  }
}

TEST(RebarArithmeticTest, ProposeSizeIndexHonoursTheCeiling) {
  struct Row {
    UINT32 Mask;
    UINT8 Current;
    UINT8 Ceiling;
    UINT8 Expected;
  };
  const Row Rows[] = {
      {0x700, 8, 255, 10}, {0x700, 10, 255, 9}, {0x700, 8, 9, 9},    {0x700, 9, 9, 8},
      {0x700, 8, 8, 0},    {0x700, 8, 0, 0},    {0x701, 0, 255, 10}, {0x1, 0, 255, 0},
  };
  for (const Row &Case : Rows) {
    EXPECT_EQ(ProposeSizeIndex(Case.Mask, Case.Current, Case.Ceiling), Case.Expected)
        << "mask " << Case.Mask << " current " << int{Case.Current} << " ceiling "
        << int{Case.Ceiling};
  }
}

} // namespace
