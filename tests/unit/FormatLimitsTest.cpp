// Entry checks, limits, truncation and bounded work of the format engine.
#include <chrono>
#include <cstring>

#include "tests/unit/FormatTestSupport.h"

namespace {

TEST(FormatLimitsTest, TruncationKeepsTheTerminatorSlot) {
  struct Row {
    const char *Format;
    std::vector<ArgumentSlot> Slots;
    UINT64 Size;
    const char *Expected;
  };
  const Row Rows[] = {
      {"abcdef", {}, 4, "abc"},        {"a\nb", {}, 3, "a\r"},     {"anything", {}, 1, ""},
      {"%10d", {5}, 4, "   "},         {"%-6d|", {42}, 4, "42 "},  {"%,d", {1234567}, 3, "1,"},
      {"ab%5%", {}, 5, "ab  "},        {"%.5d", {~0ULL}, 3, "-0"},
  };
  for (const Row &Case : Rows) {
    for (const Widths Choice : ALL_WIDTHS) {
      SCOPED_TRACE(testing::Message() << Case.Format << " in " << Case.Size << ", "
                                      << Describe(Choice));
      const Rendering Out = Render(Wide(Case.Format), Case.Slots, Case.Size, Choice);
      EXPECT_EQ(Out.Text, Wide(Case.Expected));
      EXPECT_EQ(Out.Result, Case.Size - 1);
      EXPECT_TRUE(Out.Terminated);
      EXPECT_TRUE(Out.GuardsIntact);
    }
  }
}

TEST(FormatLimitsTest, RefusedCallsWriteNothing) {
  uint8_t Buffer[8];
  std::memset(Buffer, GUARD_BYTE, sizeof(Buffer));
  const ArgumentSlot None[1] = {0};
  EXPECT_EQ(FormatCore(nullptr, 5, 0, "abc", None), 0U);
  EXPECT_EQ(FormatCore(Buffer, 0, 0, "abc", None), 0U);
  EXPECT_EQ(FormatCore(Buffer, 4, 0, nullptr, None), 0U);
  EXPECT_EQ(FormatCore(nullptr, 0, COUNT_ONLY, nullptr, None), 0U);
  EXPECT_EQ(FormatCore(Buffer, FORMAT_MAX_CHARS + 1, 0, "abc", None), 0U);
  for (const uint8_t Byte : Buffer) {
    EXPECT_EQ(Byte, GUARD_BYTE);
  }
}

TEST(FormatLimitsTest, BufferAndFormatLimitsInBothFormatWidths) {
  std::vector<uint8_t> Large(2 * FORMAT_MAX_CHARS);
  EXPECT_EQ(FormatCore(Large.data(), FORMAT_MAX_CHARS, WIDE_OUTPUT, "ab", nullptr), 2U);
  for (const bool WideFormat : {false, true}) {
    SCOPED_TRACE(WideFormat ? "wide format" : "narrow format");
    for (const UINT64 Length : {FORMAT_MAX_CHARS, FORMAT_MAX_CHARS + 1}) {
      std::string Narrow(Length, 'x');
      std::u16string WideText(Length, u'x');
      const void *Format = WideFormat ? static_cast<const void *>(WideText.c_str()) : Narrow.c_str();
      const FormatFlags Flags = WideFormat ? WIDE_FORMAT : 0;
      const UINT64 Expected = Length == FORMAT_MAX_CHARS ? 9 : 0;
      char Buffer[10];
      EXPECT_EQ(FormatCore(Buffer, sizeof(Buffer), Flags, Format, nullptr), Expected);
      EXPECT_EQ(FormatCore(nullptr, 0, Flags | COUNT_ONLY, Format, nullptr),
                Length == FORMAT_MAX_CHARS ? FORMAT_MAX_CHARS : 0);
    }
  }
}

TEST(FormatLimitsTest, CountOnlyWritesNothingAndCountsEverything) {
  const CHAR16 Xyz[] = u"xyz";
  const ArgumentSlot Slots[] = {42, reinterpret_cast<ArgumentSlot>(Xyz), 0};
  EXPECT_EQ(FormatCore(nullptr, 0, COUNT_ONLY, "abc%5d|%s", Slots), 12U);
  // A buffer handed along is not written and does not limit the count.
  char Buffer[4] = {'q', 'q', 'q', 'q'};
  EXPECT_EQ(FormatCore(Buffer, 1, COUNT_ONLY, "abc%5d|%s", Slots), 12U);
  EXPECT_EQ(FormatCore(Buffer, 4, COUNT_ONLY, "abc%5d|%s", Slots), 12U);
  EXPECT_EQ(std::string(Buffer, 4), "qqqq");
}

// Widths and precisions from "*" slots are as large as 64 bits allow; the work stays bounded
// by the buffer, and counted padding is added at once.
TEST(FormatLimitsTest, HugeWidthsAreBoundedWork) {
  const auto Begin = std::chrono::steady_clock::now();
  const ArgumentSlot Width[] = {(1ULL << 32) + 3, 42, 0};
  EXPECT_EQ(FormatCore(nullptr, 0, COUNT_ONLY, "%*d", Width), (1ULL << 32) + 3);
  const ArgumentSlot Huge[] = {~0ULL, 0};
  EXPECT_EQ(FormatCore(nullptr, 0, COUNT_ONLY, "%*c", Huge), ~0ULL);
  EXPECT_EQ(FormatCore(nullptr, 0, COUNT_ONLY, "%.*d", Huge), ~0ULL);
  const ArgumentSlot Precision[] = {1ULL << 40, 0};
  EXPECT_EQ(FormatCore(nullptr, 0, COUNT_ONLY, "%.*s", Precision), 1ULL << 40);

  const Rendering Out = Render(u"%*d", {(1ULL << 32) + 3, 42}, 100, {false, true});
  EXPECT_EQ(Out.Result, 99U);
  EXPECT_EQ(Out.Text, std::u16string(99, u' '));
  EXPECT_TRUE(Out.GuardsIntact);
  EXPECT_LT(std::chrono::steady_clock::now() - Begin, std::chrono::seconds(2));
}

TEST(FormatLimitsTest, CallerFlagsBeyondTheThreeAreIgnored) {
  const FormatFlags Noise = LEFT_ALIGN | SIGN_PLUS | ZERO_PAD | HAS_WIDTH | HEX_RADIX |
                            GROUP_COMMAS | UNSIGNED_ARG | REVERSED_DIGITS | HAS_PRECISION;
  const Rendering Out = Render(u"%5d|x", {1234}, 20, {false, false}, Noise);
  EXPECT_EQ(Out.Text, u" 1234|x");
}

TEST(FormatLimitsTest, CharacterWidthRules) {
  const CHAR8 Accent[] = "\xE9";
  const CHAR16 Smile[] = u"\x263A";
  // A wide format character above 0xFF: whole into a wide buffer, its low byte into a narrow.
  EXPECT_EQ(Render(u"\x263A", {}, 8, {true, true}).Text, u"\x263A");
  EXPECT_EQ(Render(u"\x263A", {}, 8, {true, false}).Text, u"\x3A");
  // A narrow argument byte reaches a wide buffer as that character.
  EXPECT_EQ(Render(u"%a", {Slot(Accent)}, 8, {false, true}).Text, u"\xE9");
  EXPECT_EQ(Render(u"%s", {Slot(Smile)}, 8, {false, false}).Text, u"\x3A");
  EXPECT_EQ(Render(u"%s", {Slot(Smile)}, 8, {false, true}).Text, u"\x263A");
  EXPECT_EQ(Render(u"%c", {0x263A}, 8, {false, false}).Text, u"\x3A");
}

} // namespace
