// Rendering tables: one row per format and arguments, with the exact text expected. Every row
// runs in all four narrow/wide combinations, checks the result, the terminator and the guard
// bytes, and checks that counting alone gives the same number.
#include <cstdint>

#include "firmware/UefiStatus.h"
#include "tests/unit/FormatTestSupport.h"

namespace {

struct Row {
  const char *Format;
  std::vector<ArgumentSlot> Slots;
  const char *Expected;
};

constexpr ArgumentSlot MINUS(int64_t Value) {
  return static_cast<ArgumentSlot>(Value);
}

const CHAR16 HELLO[] = u"hello";
const CHAR16 AB[] = u"ab";
const CHAR16 ABC[] = u"abc";
const CHAR16 ABCDEF[] = u"abcdef";
const CHAR16 EMPTY[] = u"";
const CHAR16 EIGHT[] = u"12345678";
const CHAR8 NARROW_ABC[] = "abc";
const EFI_GUID SAMPLE_GUID = {0xA, 0xB, 0xC0, {1, 2, 3, 4, 5, 6, 7, 8}};
const EFI_TIME SAMPLE_TIME = {2026, 12, 7, 22, 5, 59, 0, 0, 0, 0, 0};
const EFI_TIME SMALL_TIME = {5, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0};
const EFI_TIME LARGE_TIME = {65535, 255, 255, 255, 255, 255, 0, 0, 0, 0, 0};

const Row Rows[] = {
    // Plain text and line ends.
    {"", {}, ""},
    {"abc", {}, "abc"},
    {"a\n\nb", {}, "a\r\n\r\nb"},
    {"a\r\rb", {}, "a\r\rb"},
    {"a\r\n\rb", {}, "a\r\n\rb"},
    {"a\n\rb", {}, "a\r\nb"},
    {"%5\n", {}, "   \r\n"},
    {"%-4\r|", {}, "\r   |"},
    // Integers.
    {"%d", {0x80000000}, "-2147483648"},
    {"%d", {0xFFFFFFFF00000007}, "7"},
    {"%ld", {0x8000000000000000}, "-9223372036854775808"},
    {"%u", {MINUS(-1)}, "4294967295"},
    {"%lu", {MINUS(-1)}, "18446744073709551615"},
    {"%x", {MINUS(-1)}, "FFFFFFFF"},
    {"%lx", {MINUS(-1)}, "FFFFFFFFFFFFFFFF"},
    {"%x|%X", {255, 255}, "FF|FF"},
    {"%8x|%8X", {255, 255}, "      FF|000000FF"},
    {"%p|%10p", {0x1234, 0x1234}, "1234|0000001234"},
    {"%,d|%,d", {1234567, MINUS(-1234567)}, "1,234,567|-1,234,567"},
    {"%.0d|%+.0d|%.d", {0, 0, 0}, "|+|0"},
    {"%05d|%08.5d|%-05d", {MINUS(-42), 42, 42}, "-0042|   00042|42   "},
    {"%3s|", {Slot(HELLO)}, "hello|"},
    {"%2.5d", {7}, "00007"},
    {"%%|%k|%hd|%5%|%.0%", {}, "%|k|hd|    %|"},
    {"%*d|%.*d|%*.*d", {6, 42, 4, 42, 8, 4, 42}, "    42|0042|    0042"},
    {"%18446744073709551617d", {3}, "3"},
    {"%.5.2d|%5-d", {3, 3}, "03|3    "},
    {"%+u|% u|%+x|%+p", {42, 42, 42, 0x12}, "42| 42|+2A|12"},
    {"%5.3x|%-8.3d|%+05x|%0-5x", {1, MINUS(-1), 3, 1}, "  001|-001    |+0003|1    "},
    {"%,x|%,010d|%,.10d", {0x123456, 1234567, 1234567}, "123456| 1,234,567|1,234,567"},
    {"%-,12d|%,d|%,d|%,d", {MINUS(-1234567), 0, 1234, 123}, "-1,234,567  |0|1,234|123"},
    {"%-5d|%d %+d %d", {1, 2, 3, 4}, "1    |2 +3 4"},
    {"% +d|%+ d", {5, 5}, "+5|+5"},
    // Format ends inside a directive.
    {"abc%", {}, "abc"},
    {"abc%5", {}, "abc     "},
    {"abc%-3", {}, "abc   "},
    // Strings.
    {"%.3s|%.0s|%-.5s|%.8s|%08s", {Slot(HELLO), Slot(HELLO), Slot(ABC), Slot(HELLO), Slot(HELLO)},
     "hel||  abc|   hello|   hello"},
    {"%s|%S|%a", {0, 0, 0}, "<null string>|<null string>|<null string>"},
    {"%s%s", {Slot(AB), 0}, "ab<null string>"},
    {"%.3s|%.5s|%.s|%.3S", {Slot(ABCDEF), Slot(AB), Slot(ABC), Slot(EMPTY)}, "abc|   ab|a|   "},
    {"%10s|%-10s|%010s", {Slot(AB), Slot(AB), Slot(AB)}, "        ab|ab        |        ab"},
    {"%-10.5s|%5s", {Slot(AB), Slot(EIGHT)}, "   ab     |12345678"},
    {"%a|%5a|%.2a", {Slot(NARROW_ABC), Slot(NARROW_ABC), Slot(NARROW_ABC)}, "abc|  abc|ab"},
    {"%.4s", {0}, "<nul"},
    // Characters.
    {"%c|%c|%c|%.0c|%.3c|%5c", {0x41, 0xFFFF0042, 0, 0, 0x41, 0x41}, "A|B| ||  A|    A"},
    // GUIDs.
    {"%g", {Slot(&SAMPLE_GUID)}, "0000000A-000B-00C0-0102-030405060708"},
    {"%.8g|%g", {Slot(&SAMPLE_GUID), 0}, "0000000A|<null guid>"},
    {"%040g", {Slot(&SAMPLE_GUID)}, "    0000000A-000B-00C0-0102-030405060708"},
    // Times.
    {"%t", {Slot(&SAMPLE_TIME)}, "12/07/2026  22:05"},
    {"%t|%t", {Slot(&SMALL_TIME), 0}, "01/02/0005  03:04|<null time>"},
    {"%t", {Slot(&LARGE_TIME)}, "255/255/65535  255:255"},
    // Statuses.
    {"%r|%r|%r", {0, 5, 6}, "Success|Warning Stale Data|00000006"},
    {"%r|%r|%r", {EFI_ERROR_BIT, EFI_ERROR_BIT | 1, EFI_ERROR_BIT | 29},
     "00000000|Load Error|Reserved (29)"},
    {"%r|%r", {EFI_ERROR_BIT | 33, EFI_ERROR_BIT | 34}, "Compromised Data|00000022"},
    {"%r|%r", {(1ULL << 32) + 7, EFI_ERROR_BIT | (1ULL << 32) | 2}, "00000007|00000002"},
    {"%.4r|%20r|%.20r", {EFI_INVALID_PARAMETER, EFI_INVALID_PARAMETER, 0},
     "Inva|   Invalid Parameter|             Success"},
    {"%lr|%,r|%+r|%0r", {1, 2, 3, 4},
     "Warning Unknown Glyph|Warning Delete Failure|Warning Write Failure|Warning Buffer Too Small"},
    // Nested renderings share the outer scratch area with integers: each uses it in turn.
    {"%d %g %x %r %t %u", {12, Slot(&SAMPLE_GUID), 0xAB, 7, Slot(&SAMPLE_TIME), 99},
     "12 0000000A-000B-00C0-0102-030405060708 AB 00000007 12/07/2026  22:05 99"},
};

TEST(FormatTableTest, RendersEveryRowInEveryWidth) {
  for (const Row &Case : Rows) {
    const std::u16string Expected = Wide(Case.Expected);
    for (const Widths Choice : ALL_WIDTHS) {
      SCOPED_TRACE(testing::Message() << "format \"" << Case.Format << "\", " << Describe(Choice));
      const Rendering Out = Render(Wide(Case.Format), Case.Slots, 200, Choice);
      EXPECT_EQ(Out.Text, Expected);
      EXPECT_EQ(Out.Result, Expected.size());
      EXPECT_TRUE(Out.Terminated);
      EXPECT_TRUE(Out.GuardsIntact);
      const Rendering Counted = Render(Wide(Case.Format), Case.Slots, 0, Choice, COUNT_ONLY);
      EXPECT_EQ(Counted.Result, Expected.size()) << "counted";
    }
  }
}

// One row per status value of both tables, and the values just beyond them.
TEST(FormatTableTest, EveryStatusText) {
  const char *const Successes[] = {"Success",
                                   "Warning Unknown Glyph",
                                   "Warning Delete Failure",
                                   "Warning Write Failure",
                                   "Warning Buffer Too Small",
                                   "Warning Stale Data"};
  const char *const Errors[] = {
      "Load Error",         "Invalid Parameter", "Unsupported",      "Bad Buffer Size",
      "Buffer Too Small",   "Not Ready",         "Device Error",     "Write Protected",
      "Out of Resources",   "Volume Corrupt",    "Volume Full",      "No Media",
      "Media changed",      "Not Found",         "Access Denied",    "No Response",
      "No mapping",         "Time out",          "Not started",      "Already started",
      "Aborted",            "ICMP Error",        "TFTP Error",       "Protocol Error",
      "Incompatible Version", "Security Violation", "CRC Error",     "End of Media",
      "Reserved (29)",      "Reserved (30)",     "End of File",      "Invalid Language",
      "Compromised Data"};
  for (UINT64 Value = 0; Value < std::size(Successes); ++Value) {
    EXPECT_EQ(Render(u"%r", {Value}, 40, {false, false}).Text, Wide(Successes[Value]));
  }
  for (UINT64 Code = 1; Code <= std::size(Errors); ++Code) {
    EXPECT_EQ(Render(u"%r", {EFI_ERROR_BIT | Code}, 40, {false, true}).Text,
              Wide(Errors[Code - 1]));
  }
  EXPECT_EQ(Render(u"%r", {EFI_DEVICE_ERROR}, 40, {false, false}).Text, u"Device Error");
}

} // namespace
