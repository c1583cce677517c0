// The benchmark's scan machines: the same builders and read rule as the host tests.
#include "tests/bench/ScanCases.h"

#include "tests/host/ScanReadCount.h"

namespace {

ScanCase MakeCase(const char *Name, ScanMachine Machine) {
  ConfigImage Image = BuildImage(Machine);
  const uint64_t Expected = ExpectedScanReads(Machine);
  return {Name, std::move(Machine), std::move(Image), Expected};
}

} // namespace

const std::vector<ScanCase> &ScanCases() {
  static const std::vector<ScanCase> Cases = {
      MakeCase("empty_buses_0_255", EmptyBusRangeMachine()),
      MakeCase("empty_bus_0", SingleBusMachine()),
      MakeCase("twenty_devices", TwentyDeviceMachine()),
  };
  return Cases;
}

std::unique_ptr<HostPlatform> PrepareScan(const ScanCase &Case) {
  auto Platform = std::make_unique<HostPlatform>();
  HostRootBridge &Bridge =
      Platform->AddRootBridge(Case.Image, BusDescriptor(0, Case.Machine.MaxBus));
  Bridge.Reads.reserve(Case.ExpectedReads);
  return Platform;
}

uint64_t RunScan(HostPlatform &Platform) {
  Platform.RunDriverEntry();
  return Platform.TotalPciReads();
}
