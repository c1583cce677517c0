// Reads register fields through their unshifted masks.
#pragma once

#include "firmware/UefiBase.h"

// The field of Value selected by the contiguous, non-zero Mask, shifted down to bit 0.
constexpr UINT32 RegisterField(UINT32 Value, UINT32 Mask) {
  return (Value & Mask) >> __builtin_ctz(Mask);
}

static_assert(RegisterField(0x00501234, 0xFFF00000) == 0x005);
static_assert(RegisterField(0xA5, 0x0F) == 0x5);
