// Table-driven checks of the format engine: every row is rendered in each chosen combination of
// narrow/wide format and narrow/wide output into a buffer surrounded by guard bytes, and once
// more with COUNT_ONLY. A failure names the row's source line, its format and the widths.
#pragma once

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "print/FormatEngine.h"

struct Widths {
  bool WideFormat;
  bool WideOutput;
};
inline constexpr Widths ALL_WIDTHS[] = {{false, false}, {false, true}, {true, false}, {true, true}};
// For formats holding characters above 0xFF.
inline constexpr Widths WIDE_FORMAT_WIDTHS[] = {{true, false}, {true, true}};

// Marks a row whose COUNT_ONLY result is the length of its expected text.
inline constexpr UINT64 SAME_AS_TEXT = ~static_cast<UINT64>(0);
inline constexpr UINT64 ROOMY_BUFFER = 128;

struct FormatRow {
  int Line;
  std::u16string Format; // a narrow format holds the low bytes
  std::vector<ArgumentSlot> Slots;
  std::u16string Expected; // the buffer before its terminator, as a wide buffer holds it
  UINT64 Size = ROOMY_BUFFER;
  UINT64 Counted = SAME_AS_TEXT;
};

inline constexpr uint8_t GUARD_BYTE = 0xA5;
inline constexpr size_t GUARD_BYTES = 16;

struct Rendering {
  UINT64 Result;
  std::u16string Text; // the Result characters before the terminator
  bool Terminated;     // a NUL character right after them
  bool RestUntouched;  // every byte before the buffer and after the terminator kept its guard
};

inline std::string NarrowFormat(const std::u16string &Format) {
  std::string Narrow;
  for (const char16_t Character : Format) {
    Narrow.push_back(static_cast<char>(Character & 0xFF));
  }
  return Narrow;
}

// Renders Format with Slots into a guarded buffer of Size characters.
inline Rendering Render(const std::u16string &Format, const std::vector<ArgumentSlot> &Slots,
                        UINT64 Size, Widths Choice, FormatFlags Extra = 0) {
  const std::string Narrow = NarrowFormat(Format);
  const void *FormatPointer =
      Choice.WideFormat ? static_cast<const void *>(Format.c_str()) : Narrow.c_str();
  const size_t CharBytes = Choice.WideOutput ? 2 : 1;
  std::vector<uint8_t> Bytes(2 * GUARD_BYTES + Size * CharBytes, GUARD_BYTE);
  uint8_t *Buffer = Bytes.data() + GUARD_BYTES;
  const FormatFlags Flags =
      (Choice.WideFormat ? WIDE_FORMAT : 0) | (Choice.WideOutput ? WIDE_OUTPUT : 0) | Extra;
  Rendering Out{};
  Out.Result = FormatCore(Size == 0 ? nullptr : Buffer, Size, Flags, FormatPointer, Slots.data());
  auto CharAt = [&](size_t Index) {
    return CharBytes == 1 ? static_cast<char16_t>(Buffer[Index])
                          : static_cast<char16_t>(Buffer[2 * Index] | (Buffer[2 * Index + 1] << 8));
  };
  size_t Touched = 0;
  if (Out.Result < Size) {
    for (UINT64 Index = 0; Index < Out.Result; ++Index) {
      Out.Text.push_back(CharAt(Index));
    }
    Out.Terminated = CharAt(Out.Result) == 0;
    Touched = (Out.Result + 1) * CharBytes;
  }
  Out.RestUntouched = true;
  for (size_t Index = 0; Index < Bytes.size(); ++Index) {
    const bool Written = Index >= GUARD_BYTES && Index < GUARD_BYTES + Touched;
    Out.RestUntouched = Out.RestUntouched && (Written || Bytes[Index] == GUARD_BYTE);
  }
  return Out;
}

// COUNT_ONLY with a null buffer and size 0.
inline UINT64 Count(const std::u16string &Format, const std::vector<ArgumentSlot> &Slots,
                    bool WideFormat) {
  const std::string Narrow = NarrowFormat(Format);
  const void *FormatPointer =
      WideFormat ? static_cast<const void *>(Format.c_str()) : Narrow.c_str();
  return FormatCore(nullptr, 0, COUNT_ONLY | (WideFormat ? WIDE_FORMAT : 0), FormatPointer,
                    Slots.data());
}

inline std::string Describe(Widths Choice) {
  return std::string(Choice.WideFormat ? "wide" : "narrow") + " format, " +
         (Choice.WideOutput ? "wide" : "narrow") + " output";
}

inline std::u16string Wide(const std::string &Text) {
  return std::u16string(Text.begin(), Text.end());
}

inline std::string Printable(const std::u16string &Text) {
  std::string Out;
  for (const char16_t Character : Text) {
    if (Character >= 0x20 && Character < 0x7F) {
      Out.push_back(static_cast<char>(Character));
    } else {
      Out += "\\x" + std::to_string(static_cast<unsigned>(Character));
    }
  }
  return Out;
}

// What a narrow buffer holds for an expected wide text: the low bytes.
inline std::u16string LowBytes(const std::u16string &Text) {
  std::u16string Out;
  for (const char16_t Character : Text) {
    Out.push_back(static_cast<char16_t>(Character & 0xFF));
  }
  return Out;
}

inline void CheckRows(std::span<const FormatRow> Rows, std::span<const Widths> Choices) {
  for (const FormatRow &Row : Rows) {
    for (const Widths Choice : Choices) {
      SCOPED_TRACE("row at line " + std::to_string(Row.Line) + " \"" + Printable(Row.Format) +
                   "\", " + Describe(Choice));
      const Rendering Out = Render(Row.Format, Row.Slots, Row.Size, Choice);
      const std::u16string Expected = Choice.WideOutput ? Row.Expected : LowBytes(Row.Expected);
      EXPECT_EQ(Out.Result, Row.Expected.size());
      EXPECT_EQ(Printable(Out.Text), Printable(Expected));
      EXPECT_TRUE(Out.Terminated);
      EXPECT_TRUE(Out.RestUntouched);
      const UINT64 Counted = Row.Counted == SAME_AS_TEXT ? Row.Expected.size() : Row.Counted;
      EXPECT_EQ(Count(Row.Format, Row.Slots, Choice.WideFormat), Counted);
    }
  }
}

inline ArgumentSlot Slot(const void *Pointer) {
  return reinterpret_cast<ArgumentSlot>(Pointer);
}
