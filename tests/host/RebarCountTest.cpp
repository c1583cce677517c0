// The scan's count of functions with a Resizable BAR, which the boot image prints: on every dump
// fixture it must equal the functions the scan hands to the evaluation, and a second run must
// start again from 0.
#include <algorithm>
#include <filesystem>

#include "tests/host/EvaluationRecorder.h"
#include "tests/host/HostTestSupport.h"

namespace {

std::vector<std::string> DumpPaths() {
  std::vector<std::string> Paths;
  for (const auto &Entry : std::filesystem::directory_iterator(RBAR_DUMP_DIR)) {
    if (Entry.path().extension() == ".dump") {
      Paths.push_back(Entry.path().string());
    }
  }
  std::sort(Paths.begin(), Paths.end());
  return Paths;
}

TEST(RebarCountTest, CountsEveryEvaluatedFunctionOfEachDumpAndRestartsAtZero) {
  for (const std::string &Path : DumpPaths()) {
    SCOPED_TRACE(Path);
    ConfigImage Image;
    std::string Error;
    ASSERT_TRUE(LoadConfigDump(Path, Image, Error)) << Error;
    for (int Run = 0; Run < 2; ++Run) {
      HostPlatform Platform;
      Platform.AddRootBridge(Image, BusDescriptor(0, HighestBus(Image)));
      RecordedEvaluations.clear();
      EXPECT_EQ(Platform.RunDriverEntry(), EFI_SUCCESS);
      EXPECT_EQ(RebarFunctionCount, RecordedEvaluations.size()) << "run " << Run;
      EXPECT_TRUE(Platform.Check().empty());
    }
  }
}

} // namespace
