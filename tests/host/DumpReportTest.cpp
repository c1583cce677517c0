// Every dump fixture, run through the whole driver on the hosted platform behind one root
// bridge whose bus range ends at the highest bus in the dump; the console must hold exactly
// the fixture's expected report, every line ended by CR LF.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/host/HostTestSupport.h"

namespace {

std::vector<std::string> DumpNames() {
  std::vector<std::string> Names;
  for (const auto &Entry : std::filesystem::directory_iterator(RBAR_DUMP_DIR)) {
    if (Entry.path().extension() == ".dump") {
      Names.push_back(Entry.path().stem().string());
    }
  }
  std::sort(Names.begin(), Names.end());
  return Names;
}

std::string ReadFile(const std::filesystem::path &Path) {
  std::ifstream Stream(Path, std::ios::binary);
  std::ostringstream Text;
  Text << Stream.rdbuf();
  return Text.str();
}

// The expected report with the console's CR LF line ends.
std::string WithCrLf(const std::string &Text) {
  std::string Converted;
  for (const char Character : Text) {
    if (Character == '\n') {
      Converted += '\r';
    }
    Converted += Character;
  }
  return Converted;
}

class DumpReportTest : public HostPlatformTest, public testing::WithParamInterface<std::string> {};

TEST_P(DumpReportTest, ConsoleHoldsTheExpectedReport) {
  const std::filesystem::path Base = std::filesystem::path(RBAR_DUMP_DIR) / GetParam();
  ConfigImage Image;
  std::string Error;
  ASSERT_TRUE(LoadConfigDump(Base.string() + ".dump", Image, Error)) << Error;
  Platform.AddRootBridge(Image, BusDescriptor(0, HighestBus(Image)));
  EXPECT_EQ(Platform.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(Platform.ConsoleText(), WithCrLf(ReadFile(Base.string() + ".expected")));
}

INSTANTIATE_TEST_SUITE_P(Dumps, DumpReportTest, testing::ValuesIn(DumpNames()),
                         [](const testing::TestParamInfo<std::string> &Info) {
                           std::string Name = Info.param;
                           std::replace(Name.begin(), Name.end(), '-', '_');
                           return Name;
                         });

} // namespace
