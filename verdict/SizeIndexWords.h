// A BAR size index in words, the way the annotated report shows it, shared by the boot image
// and rbar-survey so that the two always say the same.
#pragma once

#include "firmware/UefiBase.h"

// Size index n stands for a BAR of 1 MB x 2^n; every ten indexes the unit grows by 1024.
inline constexpr UINT32 SIZE_INDEXES_PER_UNIT = 10;
inline constexpr const char *SIZE_UNITS[] = {"MB", "GB", "TB", "PB", "EB", "ZB"};
inline constexpr UINT32 SIZE_UNIT_COUNT = sizeof(SIZE_UNITS) / sizeof(SIZE_UNITS[0]);

// A size as a count of a unit ("256" "MB"). Unit is null for an index beyond the units, which
// is shown as a power of two: "2^Count MB".
struct SizeWords {
  UINT32 Count;
  const char *Unit;
};

constexpr SizeWords SizeIndexWords(UINT32 Index) {
  const UINT32 Unit = Index / SIZE_INDEXES_PER_UNIT;
  if (Unit >= SIZE_UNIT_COUNT) {
    return {Index, nullptr};
  }
  return {1U << (Index % SIZE_INDEXES_PER_UNIT), SIZE_UNITS[Unit]};
}
static_assert(SizeIndexWords(0).Count == 1 && SizeIndexWords(8).Count == 256);
static_assert(SizeIndexWords(13).Count == 8 && SizeIndexWords(13).Unit == SIZE_UNITS[1]);
static_assert(SizeIndexWords(60).Unit == nullptr && SizeIndexWords(60).Count == 60);

// Size index n in bytes: 1 MB x 2^n; 0 for an index too large for 64 bits.
inline constexpr UINT32 SIZE_INDEX_ZERO_SHIFT = 20;
inline constexpr UINT32 SIZE_INDEX_BITS = 64;
constexpr UINT64 SizeIndexToBytes(UINT32 Index) {
  return Index < SIZE_INDEX_BITS - SIZE_INDEX_ZERO_SHIFT ? 1ULL << (Index + SIZE_INDEX_ZERO_SHIFT)
                                                         : 0;
}
static_assert(SizeIndexToBytes(0) == 0x100000 && SizeIndexToBytes(44) == 0);
