// The scan machines of the benchmark, and one driver run over a machine on a fresh hosted
// platform.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tests/host/ScanMachines.h"

// A machine with its configuration image built once.
struct ScanCase {
  const char *Name;
  ScanMachine Machine;
  ConfigImage Image;
  // Reads the scan's rules require.
  uint64_t ExpectedReads;
};

const std::vector<ScanCase> &ScanCases();

// A platform holding one root bridge over the case's image, its read log reserved so that the
// run does not grow it.
std::unique_ptr<HostPlatform> PrepareScan(const ScanCase &Case);

// Runs the driver's entry point on Platform; returns the configuration reads it made.
uint64_t RunScan(HostPlatform &Platform);
