// Shared pieces of the host tests: configuration functions built register by register, and a
// fixture whose platform must end every test without violations or leaks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/DriverGlobals.h"
#include "host/HostPlatform.h"

// Configuration space sizes a function may hold.
inline constexpr size_t CONVENTIONAL_SPACE = 256;
inline constexpr size_t EXPRESS_SPACE = 4096;

// A present function with the given IDs; the rest of its bytes are zero.
inline ConfigFunction MakeFunction(uint8_t Bus, uint8_t Device, uint8_t Function, uint16_t VendorId,
                                   uint16_t DeviceId, size_t Size = EXPRESS_SPACE) {
  ConfigFunction Made;
  Made.Bus = Bus;
  Made.Device = Device;
  Made.Function = Function;
  Made.Bytes.assign(Size, 0);
  Made.Bytes[0] = static_cast<uint8_t>(VendorId);
  Made.Bytes[1] = static_cast<uint8_t>(VendorId >> 8);
  Made.Bytes[2] = static_cast<uint8_t>(DeviceId);
  Made.Bytes[3] = static_cast<uint8_t>(DeviceId >> 8);
  return Made;
}

// The highest bus any function of Image sits on: the bus range a bridge serving it reports.
inline uint8_t HighestBus(const ConfigImage &Image) {
  uint8_t Highest = 0;
  for (const ConfigFunction &Function : Image) {
    Highest = std::max(Highest, Function.Bus);
  }
  return Highest;
}

inline void Put8(ConfigFunction &Function, size_t Offset, uint8_t Value) {
  Function.Bytes.at(Offset) = Value;
}

inline void Put32(ConfigFunction &Function, size_t Offset, uint32_t Value) {
  for (size_t Index = 0; Index < 4; ++Index) {
    Function.Bytes.at(Offset + Index) = static_cast<uint8_t>(Value >> (8 * Index));
  }
}

// Gives Function a standard capability list at 0x40: a power management entry, then the
// PCI Express capability.
inline void AddExpressCapability(ConfigFunction &Function) {
  Put8(Function, 0x34, 0x40);
  Put8(Function, 0x40, 0x01);
  Put8(Function, 0x41, 0x60);
  Put8(Function, 0x60, 0x10);
  Put8(Function, 0x61, 0x00);
}

// An extended capability header.
constexpr uint32_t ExtHeader(uint16_t Id, uint32_t Version, uint32_t Next) {
  return Id | (Version << 16) | (Next << 20);
}

// Gives Function a Resizable BAR capability at Offset whose entries are (capability, control)
// pairs; the entry count goes into bits 5-7 of entry 0's control unless Count is given.
inline void AddRebar(ConfigFunction &Function, size_t Offset,
                     const std::vector<std::pair<uint32_t, uint32_t>> &Entries, int Count = -1,
                     uint32_t Next = 0) {
  Put32(Function, Offset, ExtHeader(0x0015, 1, Next));
  for (size_t Index = 0; Index < Entries.size(); ++Index) {
    uint32_t Control = Entries[Index].second;
    if (Index == 0) {
      const uint32_t Entries0 = Count < 0 ? static_cast<uint32_t>(Entries.size()) : Count;
      Control = (Control & ~0xE0U) | (Entries0 << 5);
    }
    Put32(Function, Offset + 4 + 8 * Index, Entries[Index].first);
    Put32(Function, Offset + 8 + 8 * Index, Control);
  }
}

// A control register naming a BAR and its current size index.
constexpr uint32_t RebarControl(uint32_t Bar, uint32_t CurrentIndex) {
  return Bar | (CurrentIndex << 8);
}

// The platform every test runs on; a test fails when the driver misused it.
class HostPlatformTest : public ::testing::Test {
protected:
  void TearDown() override {
    for (const std::string &Violation : Platform.Check()) {
      ADD_FAILURE() << Violation;
    }
  }

  HostPlatform Platform;
};
