// Entry checks, limits, truncation and bounded work of the format engine.
#include <chrono>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

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
      {"abcdef", {}, 4, "abc"}, {"a\nb", {}, 3, "a\r"},     {"anything", {}, 1, ""},
      {"%10d", {5}, 4, "   "},  {"%-6d|", {42}, 4, "42 "},  {"%,d", {1234567}, 3, "1,"},
      {"ab%5%", {}, 5, "ab  "}, {"%.5d", {~0ULL}, 3, "-0"},
  };
  for (const Row &Case : Rows) {
    for (const Widths Choice : ALL_WIDTHS) {
      SCOPED_TRACE(testing::Message()
                   << Case.Format << " in " << Case.Size << ", " << Describe(Choice));
      const Rendering Out = Render(Wide(Case.Format), Case.Slots, Case.Size, Choice);
      EXPECT_EQ(Out.Text, Wide(Case.Expected));
      EXPECT_EQ(Out.Result, Case.Size - 1);
      EXPECT_TRUE(Out.Terminated);
      EXPECT_TRUE(Out.RestUntouched);
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
  EXPECT_EQ(FormatCore(Buffer, FORMAT_MAX_CHARS + 1, COUNT_ONLY, "abc", None), 0U);
  for (const uint8_t Byte : Buffer) {
    EXPECT_EQ(Byte, GUARD_BYTE);
  }
}

TEST(FormatLimitsTest, BufferAndFormatLimitsInBothFormatWidths) {
  std::vector<uint8_t> Large(2 * FORMAT_MAX_CHARS);
  EXPECT_EQ(FormatCore(Large.data(), FORMAT_MAX_CHARS, WIDE_OUTPUT, "ab", nullptr), 2U);
  EXPECT_EQ(FormatCore(Large.data(), FORMAT_MAX_CHARS, 0, "ab", nullptr), 2U);
  for (const bool WideFormat : {false, true}) {
    SCOPED_TRACE(WideFormat ? "wide format" : "narrow format");
    for (const UINT64 Length : {FORMAT_MAX_CHARS, FORMAT_MAX_CHARS + 1}) {
      std::string Narrow(Length, 'x');
      std::u16string WideText(Length, u'x');
      const void *Format =
          WideFormat ? static_cast<const void *>(WideText.c_str()) : Narrow.c_str();
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
  EXPECT_TRUE(Out.RestUntouched);
  // A written fill of 2^64 - 1 blanks still fills the buffer; a precision at the top keeps
  // its zeros when the sign is added; counted widths that pass 2^64 stay at the top.
  EXPECT_EQ(Render(u"%*d", {~0ULL, 42}, 10, {false, false}).Text, u"         ");
  EXPECT_EQ(Render(u"%+.*d", {~0ULL, 5}, 6, {false, true}).Text, u"+0000");
  const ArgumentSlot TopPrecision[] = {~0ULL, 5, 0};
  EXPECT_EQ(FormatCore(nullptr, 0, COUNT_ONLY, "%+.*d", TopPrecision), ~0ULL);
  const ArgumentSlot TwoHalves[] = {1ULL << 63, 1, 1ULL << 63, 1, 0};
  EXPECT_EQ(FormatCore(nullptr, 0, COUNT_ONLY, "%*d%*d", TwoHalves), ~0ULL);
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
  // A narrow argument byte reaches a wide buffer as that character.
  EXPECT_EQ(Render(u"%a", {Slot(Accent)}, 8, {false, true}).Text, u"\xE9");
  EXPECT_EQ(Render(u"%s", {Slot(Smile)}, 8, {false, false}).Text, u"\x3A");
  EXPECT_EQ(Render(u"%s", {Slot(Smile)}, 8, {false, true}).Text, u"\x263A");
}

// Text placed so that its last byte is the last one before an inaccessible page: any read
// past it faults.
class GuardedText {
public:
  explicit GuardedText(size_t Bytes) {
    const size_t Page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    Length = (Bytes + Page - 1) / Page * Page + Page;
    Base = static_cast<uint8_t *>(
        mmap(nullptr, Length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(Base + Length - Page, Page, PROT_NONE);
    Text = Base + Length - Page - Bytes;
  }
  ~GuardedText() { munmap(Base, Length); }
  GuardedText(const GuardedText &) = delete;
  GuardedText &operator=(const GuardedText &) = delete;
  uint8_t *Text;

private:
  uint8_t *Base;
  size_t Length;
};

// Formats that end inside a directive or right after a line end are read up to their
// terminator and no further, in both format widths.
TEST(FormatLimitsTest, NoFormatCharacterIsReadPastTheTerminator) {
  const struct {
    const char *Format;
    const char *Expected;
  } Rows[] = {{"abc%", "abc"},   {"ab%5", "ab     "}, {"a\n", "a\r\n"}, {"%\r", "\r"},
              {"x%-3.", "x   "}, {"x%l", "x"},        {"x%*", "x   "},  {"\r", "\r"}};
  const ArgumentSlot Slots[] = {3, 0};
  for (const auto &Row : Rows) {
    for (const bool WideFormat : {false, true}) {
      SCOPED_TRACE(testing::Message() << Row.Format << (WideFormat ? " wide" : " narrow"));
      const size_t Chars = strlen(Row.Format) + 1;
      GuardedText Guarded(Chars * (WideFormat ? 2 : 1));
      for (size_t Index = 0; Index < Chars; ++Index) {
        if (WideFormat) {
          Guarded.Text[2 * Index] = static_cast<uint8_t>(Row.Format[Index]);
          Guarded.Text[2 * Index + 1] = 0;
        } else {
          Guarded.Text[Index] = static_cast<uint8_t>(Row.Format[Index]);
        }
      }
      char Buffer[16] = {};
      EXPECT_EQ(
          FormatCore(Buffer, sizeof(Buffer), WideFormat ? WIDE_FORMAT : 0, Guarded.Text, Slots),
          strlen(Row.Expected));
      EXPECT_STREQ(Buffer, Row.Expected);
    }
  }
}

// A string without a terminator is measured to FORMAT_LENGTH_OVERFLOW characters, not one
// more: a format one character too long is refused without a fault.
TEST(FormatLimitsTest, OverlongStringsAreReadOnlyToTheLimit) {
  GuardedText WideText(FORMAT_LENGTH_OVERFLOW * 2);
  memset(WideText.Text, 'x', FORMAT_LENGTH_OVERFLOW * 2);
  EXPECT_EQ(WideStrLenBounded(reinterpret_cast<const CHAR16 *>(WideText.Text)),
            FORMAT_LENGTH_OVERFLOW);
  char Buffer[4];
  EXPECT_EQ(FormatCore(Buffer, sizeof(Buffer), WIDE_FORMAT, WideText.Text, nullptr), 0U);
  GuardedText NarrowText(FORMAT_LENGTH_OVERFLOW);
  memset(NarrowText.Text, 'x', FORMAT_LENGTH_OVERFLOW);
  EXPECT_EQ(FormatCore(Buffer, sizeof(Buffer), 0, NarrowText.Text, nullptr), 0U);
}

} // namespace
