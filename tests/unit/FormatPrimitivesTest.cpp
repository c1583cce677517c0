// The engine's small operations: bounded fill, digit runs and bounded wide-string length.
#include <gtest/gtest.h>

#include <cstring>

#include "print/FormatEngine.h"

namespace {

TEST(FormatPrimitivesTest, FillCharsStopsBeforeTheEnd) {
  UINT8 Bytes[8];
  memset(Bytes, 0xEE, sizeof(Bytes));
  // Narrow: four of six requested fit before the end.
  EXPECT_EQ(FillChars(Bytes, Bytes + 4, 6, 0x1241, 1), Bytes + 4);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(Bytes), 5), "AAAA\xEE");
  // Wide: low byte first; an odd end leaves the half slot before it untouched.
  memset(Bytes, 0xEE, sizeof(Bytes));
  EXPECT_EQ(FillChars(Bytes, Bytes + 5, 9, 0x1241, 2), Bytes + 4);
  const UINT8 Wide[] = {0x41, 0x12, 0x41, 0x12, 0xEE};
  EXPECT_EQ(memcmp(Bytes, Wide, sizeof(Wide)), 0);
  // A count of zero or less writes nothing.
  EXPECT_EQ(FillChars(Bytes, Bytes + 8, 0, 'x', 1), Bytes);
  EXPECT_EQ(FillChars(Bytes, Bytes + 8, -3, 'x', 2), Bytes);
  EXPECT_EQ(Bytes[0], 0x41);
}

TEST(FormatPrimitivesTest, ValueToDigitsStoresTheRunBackwards) {
  CHAR8 Scratch[FORMAT_SCRATCH_CHARS];
  CHAR8 *Last = ValueToDigits(Scratch, 0, 10);
  EXPECT_EQ(Last, Scratch + 1);
  EXPECT_EQ(std::string(Scratch, 2), std::string("\0"
                                                 "0",
                                                 2));
  Last = ValueToDigits(Scratch, 0xABC, 16);
  EXPECT_EQ(std::string(Scratch + 1, Last + 1), "CBA");
  Last = ValueToDigits(Scratch, ~0ULL, 10);
  EXPECT_EQ(Last - Scratch, 20);
  EXPECT_EQ(std::string(Scratch + 1, Last + 1), "51615590737044764481");
  EXPECT_EQ(Scratch[0], '\0');
}

TEST(FormatPrimitivesTest, WideStrLenBoundedCountsToTheLimit) {
  EXPECT_EQ(WideStrLenBounded(nullptr), 0U);
  EXPECT_EQ(WideStrLenBounded(u""), 0U);
  EXPECT_EQ(WideStrLenBounded(u"ab\x263A"), 3U);
  const std::u16string Longest(FORMAT_MAX_CHARS, u'x');
  EXPECT_EQ(WideStrLenBounded(Longest.c_str()), FORMAT_MAX_CHARS);
  const std::u16string Longer(FORMAT_MAX_CHARS + 5, u'x');
  EXPECT_EQ(WideStrLenBounded(Longer.c_str()), FORMAT_LENGTH_OVERFLOW);
}

} // namespace
