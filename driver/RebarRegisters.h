// Resizable BAR extended capability: entry layout and register fields.
#pragma once

#include "firmware/UefiBase.h"

// Offsets from the capability's header: entry n has its capability register at
// REBAR_CAPABILITY + REBAR_ENTRY_STRIDE * n and its control register at
// REBAR_CONTROL + REBAR_ENTRY_STRIDE * n.
inline constexpr UINT64 REBAR_CAPABILITY = 4;
inline constexpr UINT64 REBAR_CONTROL = 8;
inline constexpr UINT64 REBAR_ENTRY_STRIDE = 8;

// Control register: index of the BAR the entry describes (three bits compared).
inline constexpr UINT32 REBAR_CONTROL_BAR_INDEX_MASK = 0x00000007;
// Control register of entry 0: number of entries in the capability.
inline constexpr UINT32 REBAR_CONTROL_ENTRY_COUNT_MASK = 0x000000E0;
// Control register: current BAR size index (0 = 1 MB, 19 = 512 GB).
inline constexpr UINT32 REBAR_CONTROL_BAR_SIZE_MASK = 0x00001F00;

// Capability register: supported sizes, bit 4 + n standing for size index n (1 MB x 2^n).
inline constexpr UINT32 REBAR_CAPABILITY_SIZES_MASK = 0x00FFFFF0;
// Shift that turns the masked capability register into a mask with bit n for size index n.
inline constexpr UINT32 REBAR_CAPABILITY_SIZES_SHIFT = 4;

// BARs of a type 0 header that the evaluation looks at.
inline constexpr UINT8 REBAR_FIRST_BAR = 0;
inline constexpr UINT8 REBAR_LAST_BAR = 5;

// Size index 0 (1 MB) is never proposed.
inline constexpr UINT8 REBAR_SMALLEST_PROPOSED_INDEX = 1;
