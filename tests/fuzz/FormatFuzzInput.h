// How the format target reads its input: the caller's choices, the buffer size, the format's
// characters and the argument records, and the owned objects that pointer arguments point to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "print/FormatEngine.h"

// Input layout, all little-endian:
//   byte 0      options (FORMAT_OPTION_* below)
//   byte 1      extra flag bits the caller passes although only its own three count; bit n
//               sets JUNK_FLAG_BITS[n]
//   bytes 2-3   buffer size selector: below 0xF000 its low 11 bits are the size, otherwise
//               its low 4 bits pick one of the edge sizes
//   byte 4      argument record count (low 6 bits)
//   then        that many records of 9 bytes: a selector byte and an 8-byte value
//   the rest    the format: bytes, or byte pairs for a wide format; it ends at its first NUL
inline constexpr size_t FORMAT_INPUT_HEADER_BYTES = 5;
inline constexpr size_t FORMAT_INPUT_RECORD_BYTES = 9;
inline constexpr uint8_t FORMAT_INPUT_RECORD_COUNT_MASK = 0x3F;
inline constexpr uint16_t FORMAT_INPUT_EDGE_SIZE_SELECTOR = 0xF000;
inline constexpr uint16_t FORMAT_INPUT_PLAIN_SIZE_MASK = 0x07FF;
inline constexpr uint16_t FORMAT_INPUT_EDGE_SIZE_MASK = 0x000F;

inline constexpr uint8_t FORMAT_OPTION_WIDE_OUTPUT = 0x01;
inline constexpr uint8_t FORMAT_OPTION_WIDE_FORMAT = 0x02;
inline constexpr uint8_t FORMAT_OPTION_COUNT_ONLY = 0x04;
inline constexpr uint8_t FORMAT_OPTION_NULL_BUFFER = 0x08;
inline constexpr uint8_t FORMAT_OPTION_NULL_FORMAT = 0x10;
inline constexpr uint8_t FORMAT_OPTION_NULL_ARGUMENTS = 0x20;
// With an edge buffer size only: the format is padded with "x" to one character more than the
// longest accepted, so the call must be refused. (The longest accepted format costs a walk of
// a million characters an input; the unit tests hold it.)
inline constexpr uint8_t FORMAT_OPTION_FORMAT_TOO_LONG = 0x40;

// Flag bits other than the caller's own, which must change nothing.
inline constexpr FormatFlags JUNK_FLAG_BITS[8] = {
    LEFT_ALIGN,    ZERO_PAD,        HAS_WIDTH,    WIDE_ARGUMENT,
    HAS_PRECISION, REVERSED_DIGITS, UNSIGNED_ARG, 0x80000000U,
};

// What the directive grammar makes a conversion take its slot as.
enum class SlotKind : uint8_t { Integer, NarrowString, WideString, Guid, Time };

struct ArgumentRecord {
  uint8_t Selector;
  uint64_t Value;
};

struct FormatCase {
  uint8_t Options = 0;
  FormatFlags CallerFlags = 0; // the caller's three flags and the junk bits
  uint64_t BufferSize = 0;
  bool WideFormat = false;
  bool WideOutput = false;
  bool CountOnly = false;
  std::vector<uint16_t> Format; // characters before the terminator
  // Characters of the format as the engine gets it: Format padded with "x" when it is to be
  // too long, else Format's own length.
  uint64_t FormatLength = 0;
  std::vector<ArgumentRecord> Records;
};

FormatCase DecodeFormatCase(const uint8_t *Data, size_t Size);

// The kind each argument slot is taken as, in order, for the slots Format's directives take.
std::vector<SlotKind> ScanSlotKinds(const std::vector<uint16_t> &Format);

// An argument list and the objects its pointer slots point to. Each object and the slot array
// are allocations of exactly their size, so a read past any of them is caught.
struct ArgumentStore {
  std::unique_ptr<ArgumentSlot[]> Slots;
  size_t SlotCount = 0;
  std::vector<std::unique_ptr<uint8_t[]>> Objects;
};

// Slot n takes record n modulo the record count: its value for an integer, otherwise a pointer
// to an object of the slot's kind built from it (null for selector 0).
void BuildArguments(const FormatCase &Case, const std::vector<SlotKind> &Kinds,
                    ArgumentStore &Store);

// The format as the engine reads it: narrow bytes or wide characters, padded with "x" to Length
// characters, and a terminator, in an allocation of exactly that size.
std::unique_ptr<uint8_t[]> BuildFormat(const std::vector<uint16_t> &Format, uint64_t Length,
                                       bool Wide);
