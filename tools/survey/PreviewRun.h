// One run of the driver's entry point on the hosted platform, with a root bridge per PCI
// domain of a preview image, and what the run produced.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "firmware/UefiStatus.h"
#include "tools/source/PreviewImage.h"

// One string the driver wrote to the console, CR LF shown as "\n", and the function whose
// report it belongs to (the one the last configuration read before it went to).
struct ConsoleWrite {
  std::string Text;
  std::optional<FunctionKey> Origin;
};

// What the driver's code makes of one function of the image.
struct FunctionFacts {
  // The scan read the function's configuration space.
  bool Scanned = false;
  // Its standard capability list holds the PCI Express capability.
  bool Express = false;
  // It has a Resizable BAR extended capability.
  bool Rebar = false;
};

struct PreviewRun {
  EFI_STATUS EntryStatus = EFI_SUCCESS;
  std::vector<ConsoleWrite> Writes;
  size_t RootBridges = 0;
  // Configuration reads the driver made.
  uint64_t DriverReads = 0;
  // Every function of the image.
  std::map<FunctionKey, FunctionFacts> Facts;
  // The hosted platform's complaints about the driver: misused calls and pool leaks.
  std::vector<std::string> Violations;
};

// Runs the driver over Image: one root bridge per domain, in domain order, each with the bus
// range 0 to the highest bus of its domain. Image (sorted by address) lends its functions' bytes
// to the root bridges for the run and holds them again when it returns.
PreviewRun RunPreview(PreviewImage &Image);
