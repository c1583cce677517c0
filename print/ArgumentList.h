// Argument lists: consecutive 8-byte slots, one per argument whatever its type. Gathering the
// arguments of a variadic template into such an array makes the list independent of the
// calling convention, so the same engine code is right in firmware and on the host.
#pragma once

#include "firmware/UefiBase.h"

using ArgumentSlot = UINT64;

// Signed integers are widened with their sign; a 32-bit conversion reads the low 4 bytes.
constexpr ArgumentSlot ToArgumentSlot(int Value) {
  return static_cast<UINT64>(static_cast<INT64>(Value));
}
constexpr ArgumentSlot ToArgumentSlot(long Value) {
  return static_cast<UINT64>(static_cast<INT64>(Value));
}
constexpr ArgumentSlot ToArgumentSlot(long long Value) {
  return static_cast<UINT64>(Value);
}
// Unsigned integers are widened with zeros.
constexpr ArgumentSlot ToArgumentSlot(unsigned Value) {
  return Value;
}
constexpr ArgumentSlot ToArgumentSlot(unsigned long Value) {
  return Value;
}
constexpr ArgumentSlot ToArgumentSlot(unsigned long long Value) {
  return Value;
}
// A pointer takes the whole slot.
template <typename T>
inline ArgumentSlot ToArgumentSlot(T *Pointer) {
  return reinterpret_cast<UINTN>(Pointer);
}
inline ArgumentSlot ToArgumentSlot(decltype(nullptr)) {
  return 0;
}
