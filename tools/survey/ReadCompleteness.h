// Functions that hold fewer bytes of configuration space than their kind has, and what to tell
// the user about them: the scan of such a function proceeds on what was read, so a Resizable
// BAR capability in the missing bytes goes unseen.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/source/PreviewImage.h"
#include "tools/survey/PreviewRun.h"

// A function read only in part.
struct ShortFunction {
  FunctionKey Key;
  // "vvvv:dddd".
  std::string Ids;
  size_t Held = 0;
  // Bytes its kind has: 256 for any function, 4096 for a PCI Express function.
  size_t Needed = 0;
  bool Express = false;
  // The dump file it came from; empty for this machine.
  std::string Source;
};

// The functions of Image that hold fewer bytes than their kind needs, in address order. A
// function of 64 bytes holds no capability list, so its kind is unknown and 256 is needed.
std::vector<ShortFunction> FindShortFunctions(const PreviewImage &Image,
                                              const std::map<FunctionKey, FunctionFacts> &Facts);

// Message lines about short functions read from this machine. Privileged tells whether the
// process runs as root; Command is the command line to repeat with sudo.
std::vector<std::string> DescribeShortMachineFunctions(const std::vector<ShortFunction> &Short,
                                                       bool Privileged, const std::string &Command);

// Message lines about short functions read from dump files, grouped by file.
std::vector<std::string> DescribeShortDumpFunctions(const std::vector<ShortFunction> &Short);
