// The configuration space the preview runs the driver on: every function read from this
// machine or from dump files, with the PCI domain and the source it came from.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

#include "host/ConfigImage.h"

// A function's full address: PCI domain (the root bridge's segment), bus, device, function.
struct FunctionKey {
  uint32_t Domain = 0;
  uint8_t Bus = 0;
  uint8_t Device = 0;
  uint8_t Function = 0;
  auto operator<=>(const FunctionKey &) const = default;
};

// One function as read: its bytes (64, 256 or 4096 of them) and where they came from.
struct PreviewFunction {
  uint32_t Domain = 0;
  ConfigFunction Config;
  // The dump file the function was read from; empty for this machine's configuration space.
  std::string Source;
};

// All functions read, sorted by address.
using PreviewImage = std::vector<PreviewFunction>;

// The address of a function as a key.
inline FunctionKey KeyOf(const PreviewFunction &Function) {
  return {Function.Domain, Function.Config.Bus, Function.Config.Device, Function.Config.Function};
}

// "DDDD:BB:DD.F", as `lspci -D` prints it.
std::string FormatFunctionAddress(const FunctionKey &Key);

// One of a function's two IDs.
enum class PciId { Vendor, Device };

// "vvvv" or "dddd": the vendor or the device ID in lowercase hex.
std::string FormatId(const ConfigFunction &Function, PciId Id);

// "vvvv:dddd", the vendor and device IDs in lowercase hex as `lspci -n` prints them.
std::string FormatFunctionIds(const ConfigFunction &Function);

// Adds the functions of Added (read from one source) to Image, keeping Image sorted. A
// function already in Image is a fault: returns false with Error naming both sources.
bool MergeIntoImage(PreviewImage &Image, PreviewImage Added, std::string &Error);
