// The configuration reads of a whole driver run equal the count the scan's rules give, on the
// benchmark's machines and on variants that each exercise one rule, so that no change can add
// or drop a read unnoticed.
#include <cctype>
#include <ostream>

#include "tests/host/ScanReadCount.h"

namespace {

struct ReadCountRow {
  ScanMachine Machine;
  // Counted by hand for the simplest machines; 0 where only the rule's count is checked.
  uint64_t HandCounted;
};

// Failures name the row's machine.
void PrintTo(const ReadCountRow &Row, std::ostream *Out) {
  *Out << Row.Machine.Name;
}

constexpr uint16_t VENDOR = 0x1AF4;

// A one-function machine on bus 0.
ScanMachine OneFunction(std::string Name, const FunctionShape &Shape) {
  return {std::move(Name), 0, {Shape}};
}

std::vector<ReadCountRow> ReadCountRows() {
  std::vector<ReadCountRow> Rows;
  Rows.push_back({EmptyBusRangeMachine(), uint64_t{256} * 32 * 8 * 2});
  Rows.push_back({SingleBusMachine(), uint64_t{32} * 8 * 2});
  Rows.push_back({TwentyDeviceMachine(), 0});
  // 31 empty devices, then IDs, capability pointer and header type of the one function.
  Rows.push_back({OneFunction("conventional, no capability list",
                              {0, 3, 0, VENDOR, 1, false, 0, false, 0, {}}),
                  31U * 16U + 4U});
  // IDs, pointer and PCI Express ID, the header at 0x100, 6 + 5 x 4 evaluation reads, header
  // type.
  Rows.push_back({OneFunction("Resizable BAR at 0x100, one entry",
                              {0, 3, 0, VENDOR, 1, false, 1, true, 0, {0}}),
                  31U * 16U + 2U + 2U + 1U + 26U + 1U});
  Rows.push_back({OneFunction("capability list of 12 entries without PCI Express",
                              {0, 0, 0, VENDOR, 1, false, 12, false, 0, {}}),
                  0});
  Rows.push_back({OneFunction("PCI Express after 5 entries, chain of 7 without Resizable BAR",
                              {0, 9, 0, VENDOR, 1, false, 6, true, 7, {}}),
                  0});
  Rows.push_back(
      {OneFunction("PCI Express, header 0 at 0x100", {0, 9, 0, VENDOR, 1, false, 2, true, 0, {}}),
       0});
  Rows.push_back({OneFunction("entries for BARs 5, 2, 2 and 7 after 3 headers",
                              {0, 1, 0, VENDOR, 1, false, 3, true, 3, {5, 2, 2, 7}}),
                  0});
  Rows.push_back({OneFunction("six entries, BARs in reverse order",
                              {0, 1, 0, VENDOR, 1, false, 1, true, 1, {5, 4, 3, 2, 1, 0}}),
                  0});
  Rows.push_back({{"multi-function device of eight functions",
                   0,
                   {{0, 4, 0, VENDOR, 1, true, 1, true, 0, {0}},
                    {0, 4, 1, VENDOR, 2, false, 0, false, 0, {}},
                    {0, 4, 2, VENDOR, 3, true, 2, true, 2, {}},
                    {0, 4, 3, VENDOR, 4, false, 3, false, 0, {}},
                    {0, 4, 4, VENDOR, 5, false, 1, true, 1, {1, 0}},
                    {0, 4, 5, VENDOR, 6, false, 0, false, 0, {}},
                    {0, 4, 6, VENDOR, 7, false, 0, false, 0, {}},
                    {0, 4, 7, VENDOR, 8, false, 4, true, 4, {}}}},
                  0});
  Rows.push_back({{"function 0 absent, functions 3 and 6 present",
                   0,
                   {{0, 7, 3, VENDOR, 1, false, 1, true, 0, {2}},
                    {0, 7, 6, VENDOR, 2, false, 0, false, 0, {}}}},
                  0});
  // Functions 1 to 7 of a single-function device are never probed, whatever they hold.
  Rows.push_back({{"single-function device with a function 2",
                   0,
                   {{0, 7, 0, VENDOR, 1, false, 1, true, 0, {}},
                    {0, 7, 2, VENDOR, 2, false, 1, true, 0, {0}}}},
                  0});
  Rows.push_back({{"buses 0-3, functions on buses 3 and 4",
                   3,
                   {{3, 0, 0, VENDOR, 1, false, 2, true, 1, {0}},
                    {4, 0, 0, VENDOR, 2, false, 2, true, 1, {0}}}},
                  0});
  return Rows;
}

class ScanReadCountTest : public ::testing::TestWithParam<ReadCountRow> {};

TEST_P(ScanReadCountTest, DriverRunMakesTheCountedReads) {
  const ReadCountRow &Row = GetParam();
  HostPlatform Platform;
  Platform.AddRootBridge(BuildImage(Row.Machine), BusDescriptor(0, Row.Machine.MaxBus));
  EXPECT_EQ(Platform.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(Platform.TotalPciReads(), ExpectedScanReads(Row.Machine));
  if (Row.HandCounted != 0) {
    EXPECT_EQ(ExpectedScanReads(Row.Machine), Row.HandCounted);
  }
  EXPECT_TRUE(Platform.Check().empty());
}

std::string RowName(const ::testing::TestParamInfo<ReadCountRow> &Info) {
  std::string Name;
  for (const char Character : Info.param.Machine.Name) {
    Name.push_back(std::isalnum(static_cast<unsigned char>(Character)) != 0 ? Character : '_');
  }
  return Name;
}

INSTANTIATE_TEST_SUITE_P(Machines, ScanReadCountTest, ::testing::ValuesIn(ReadCountRows()),
                         RowName);

} // namespace
