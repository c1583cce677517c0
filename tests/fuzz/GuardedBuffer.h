// An output buffer between guard bytes, for checking that the format engine writes only what
// it reports and never a byte before the buffer or past its end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

inline constexpr uint8_t GUARD_BYTE = 0xA5;
inline constexpr size_t GUARD_BYTES = 32;
// Bytes compared at a time when checking guards.
inline constexpr size_t GUARD_COMPARE_BYTES = 4096;

struct GuardedBuffer {
  GuardedBuffer(uint64_t Chars, bool Wide)
      : Chars(Chars), CharBytes(Wide ? 2 : 1),
        Bytes(std::make_unique<uint8_t[]>(2 * GUARD_BYTES + Chars * CharBytes)) {
    std::memset(Bytes.get(), GUARD_BYTE, TotalBytes());
  }

  uint8_t *Start() const { return Bytes.get() + GUARD_BYTES; }
  size_t TotalBytes() const { return 2 * GUARD_BYTES + Chars * CharBytes; }

  uint16_t CharAt(uint64_t Index) const {
    const uint8_t *At = Start() + Index * CharBytes;
    return CharBytes == 1 ? At[0] : static_cast<uint16_t>(At[0] | (At[1] << 8));
  }

  // The first Count characters.
  std::vector<uint16_t> Text(uint64_t Count) const {
    std::vector<uint16_t> Characters;
    for (uint64_t Index = 0; Index < Count; ++Index) {
      Characters.push_back(CharAt(Index));
    }
    return Characters;
  }

  // True when no byte outside the first WrittenChars characters of the buffer changed: not
  // before the buffer, not after them, not past the buffer's end.
  bool UntouchedOutside(uint64_t WrittenChars) const {
    const size_t WrittenEnd = GUARD_BYTES + WrittenChars * CharBytes;
    return IsGuard(0, GUARD_BYTES) && IsGuard(WrittenEnd, TotalBytes() - WrittenEnd);
  }

  // True when Count bytes from Offset all hold the guard byte.
  bool IsGuard(size_t Offset, size_t Count) const {
    static const std::vector<uint8_t> Guard(GUARD_COMPARE_BYTES, GUARD_BYTE);
    for (size_t Done = 0; Done < Count; Done += GUARD_COMPARE_BYTES) {
      const size_t Chunk = std::min(GUARD_COMPARE_BYTES, Count - Done);
      if (std::memcmp(Bytes.get() + Offset + Done, Guard.data(), Chunk) != 0) {
        return false;
      }
    }
    return true;
  }

  uint64_t Chars;
  size_t CharBytes;
  std::unique_ptr<uint8_t[]> Bytes;
};
