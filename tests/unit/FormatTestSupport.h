// Renders a format through FormatCore in any of its four narrow/wide combinations, with guard
// bytes around the buffer so that a write past it shows.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "print/FormatEngine.h"

// Which widths a rendering uses.
struct Widths {
  bool WideFormat;
  bool WideOutput;
};
inline constexpr Widths ALL_WIDTHS[] = {{false, false}, {false, true}, {true, false}, {true, true}};

inline std::string Describe(Widths Choice) {
  return std::string(Choice.WideFormat ? "wide" : "narrow") + " format, " +
         (Choice.WideOutput ? "wide" : "narrow") + " output";
}

struct Rendering {
  UINT64 Result;
  std::u16string Text; // characters before the terminator
  bool Terminated;
  bool GuardsIntact;
};

inline constexpr uint8_t GUARD_BYTE = 0xA5;
inline constexpr size_t GUARD_BYTES = 16;

// Renders Format (given as UCS-2 so that a wide format can hold any character; a narrow format
// gets the low bytes) into a buffer of Size characters.
inline Rendering Render(const std::u16string &Format, const std::vector<ArgumentSlot> &Slots,
                        UINT64 Size, Widths Choice, FormatFlags Extra = 0) {
  std::string NarrowFormat;
  for (const char16_t Character : Format) {
    NarrowFormat.push_back(static_cast<char>(Character & 0xFF));
  }
  const void *FormatPointer =
      Choice.WideFormat ? static_cast<const void *>(Format.c_str()) : NarrowFormat.c_str();
  const size_t CharBytes = Choice.WideOutput ? 2 : 1;
  std::vector<uint8_t> Bytes(GUARD_BYTES * 2 + Size * CharBytes + CharBytes, GUARD_BYTE);
  uint8_t *Buffer = Bytes.data() + GUARD_BYTES;
  std::vector<ArgumentSlot> Arguments = Slots;
  Arguments.push_back(0);
  const FormatFlags Flags =
      (Choice.WideFormat ? WIDE_FORMAT : 0) | (Choice.WideOutput ? WIDE_OUTPUT : 0) | Extra;
  Rendering Out{};
  Out.Result = FormatCore(Buffer, Size, Flags, FormatPointer, Arguments.data());
  for (UINT64 Index = 0; Index < Size; ++Index) {
    const char16_t Character =
        CharBytes == 1 ? Buffer[Index]
                       : static_cast<char16_t>(Buffer[2 * Index] | (Buffer[2 * Index + 1] << 8));
    if (Character == 0) {
      Out.Terminated = true;
      break;
    }
    Out.Text.push_back(Character);
  }
  Out.GuardsIntact = true;
  for (size_t Index = 0; Index < GUARD_BYTES; ++Index) {
    Out.GuardsIntact = Out.GuardsIntact && Bytes[Index] == GUARD_BYTE;
  }
  for (size_t Index = GUARD_BYTES + Size * CharBytes; Index < Bytes.size(); ++Index) {
    Out.GuardsIntact = Out.GuardsIntact && Bytes[Index] == GUARD_BYTE;
  }
  return Out;
}

inline std::u16string Wide(const std::string &Text) {
  return std::u16string(Text.begin(), Text.end());
}

inline ArgumentSlot Slot(const void *Pointer) {
  return reinterpret_cast<ArgumentSlot>(Pointer);
}
