// Rendering tables: one row per format and arguments, with the exact text expected. Every row
// runs in all four narrow/wide combinations, checks the result, the terminator and the guard
// bytes, and checks that counting alone gives the same number.
#include <cstdint>
#include <cstring>

#include "firmware/UefiStatus.h"
#include "print/StatusTexts.h"
#include "tests/unit/FormatTestSupport.h"

namespace {

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
const EFI_GUID ONES_GUID = {~0U, 0xFFFF, 0xFFFF, {255, 255, 255, 255, 255, 255, 255, 255}};
alignas(8) const UINT8 UNALIGNED_GUID[17] = {0, 0xA, 0, 0, 0, 0xB, 0, 0xC0, 0,
                                             1, 2,   3, 4, 5, 6,   7, 8};
const EFI_TIME SAMPLE_TIME = {2026, 12, 7, 22, 5, 59, 0, 0, 0, 0, 0};
const EFI_TIME SMALL_TIME = {5, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0};
const EFI_TIME LARGE_TIME = {65535, 255, 255, 255, 255, 255, 0, 0, 0, 0, 0};

const FormatRow Rows[] = {
    // Plain text and line ends.
    {__LINE__, u"", {}, u""},
    {__LINE__, u"abc", {}, u"abc"},
    {__LINE__, u"a\n\nb", {}, u"a\r\n\r\nb"},
    {__LINE__, u"a\r\rb", {}, u"a\r\rb"},
    {__LINE__, u"a\r\n\rb", {}, u"a\r\n\rb"},
    {__LINE__, u"a\n\rb", {}, u"a\r\nb"},
    {__LINE__, u"%5\n", {}, u"   \r\n"},
    {__LINE__, u"%-4\r|", {}, u"\r   |"},
    // Integers.
    {__LINE__, u"%d", {0x80000000}, u"-2147483648"},
    {__LINE__, u"%d", {0xFFFFFFFF00000007}, u"7"},
    {__LINE__, u"%ld", {0x8000000000000000}, u"-9223372036854775808"},
    {__LINE__, u"%u", {MINUS(-1)}, u"4294967295"},
    {__LINE__, u"%lu", {MINUS(-1)}, u"18446744073709551615"},
    {__LINE__, u"%x", {MINUS(-1)}, u"FFFFFFFF"},
    {__LINE__, u"%lx", {MINUS(-1)}, u"FFFFFFFFFFFFFFFF"},
    {__LINE__, u"%x|%X", {255, 255}, u"FF|FF"},
    {__LINE__, u"%8x|%8X", {255, 255}, u"      FF|000000FF"},
    {__LINE__, u"%p|%10p", {0x1234, 0x1234}, u"1234|0000001234"},
    {__LINE__, u"%,d|%,d", {1234567, MINUS(-1234567)}, u"1,234,567|-1,234,567"},
    {__LINE__, u"%.0d|%+.0d|%.d", {0, 0, 0}, u"|+|0"},
    {__LINE__, u"%05d|%08.5d|%-05d", {MINUS(-42), 42, 42}, u"-0042|   00042|42   "},
    {__LINE__, u"%3s|", {Slot(HELLO)}, u"hello|"},
    {__LINE__, u"%2.5d", {7}, u"00007"},
    {__LINE__, u"%%|%k|%hd|%5%|%.0%", {}, u"%|k|hd|    %|"},
    {__LINE__, u"%*d|%.*d|%*.*d", {6, 42, 4, 42, 8, 4, 42}, u"    42|0042|    0042"},
    {__LINE__, u"%18446744073709551617d", {3}, u"3"},
    {__LINE__, u"%.5.2d|%5-d", {3, 3}, u"03|3    "},
    {__LINE__, u"%+u|% u|%+x|%+p", {42, 42, 42, 0x12}, u"42| 42|+2A|12"},
    {__LINE__, u"%5.3x|%-8.3d|%+05x|%0-5x", {1, MINUS(-1), 3, 1}, u"  001|-001    |+0003|1    "},
    {__LINE__, u"%,x|%,010d|%,.10d", {0x123456, 1234567, 1234567}, u"123456| 1,234,567|1,234,567"},
    {__LINE__, u"%-,12d|%,d|%,d|%,d", {MINUS(-1234567), 0, 1234, 123}, u"-1,234,567  |0|1,234|123"},
    {__LINE__, u"%-5d|%d %+d %d", {1, 2, 3, 4}, u"1    |2 +3 4"},
    {__LINE__, u"% +d|%+ d", {5, 5}, u"+5|+5"},
    // Format ends inside a directive.
    {__LINE__, u"abc%", {}, u"abc"},
    {__LINE__, u"abc%5", {}, u"abc     "},
    {__LINE__, u"abc%-3", {}, u"abc   "},
    // Strings.
    {__LINE__,
     u"%.3s|%.0s|%-.5s|%.8s|%08s",
     {Slot(HELLO), Slot(HELLO), Slot(ABC), Slot(HELLO), Slot(HELLO)},
     u"hel||  abc|   hello|   hello"},
    {__LINE__, u"%s|%S|%a", {0, 0, 0}, u"<null string>|<null string>|<null string>"},
    {__LINE__, u"%s%s", {Slot(AB), 0}, u"ab<null string>"},
    {__LINE__,
     u"%.3s|%.5s|%.s|%.3S",
     {Slot(ABCDEF), Slot(AB), Slot(ABC), Slot(EMPTY)},
     u"abc|   ab|a|   "},
    {__LINE__,
     u"%10s|%-10s|%010s",
     {Slot(AB), Slot(AB), Slot(AB)},
     u"        ab|ab        |        ab"},
    {__LINE__, u"%-10.5s|%5s", {Slot(AB), Slot(EIGHT)}, u"   ab     |12345678"},
    {__LINE__,
     u"%a|%5a|%.2a",
     {Slot(NARROW_ABC), Slot(NARROW_ABC), Slot(NARROW_ABC)},
     u"abc|  abc|ab"},
    {__LINE__, u"%.4s", {0}, u"<nul"},
    // Characters.
    {__LINE__,
     u"%c|%c|%c|%.0c|%.3c|%5c",
     {0x41, 0xFFFF0042, 0, 0, 0x41, 0x41},
     u"A|B| ||  A|    A"},
    // GUIDs.
    {__LINE__, u"%g", {Slot(&SAMPLE_GUID)}, u"0000000A-000B-00C0-0102-030405060708"},
    {__LINE__, u"%.8g|%g", {Slot(&SAMPLE_GUID), 0}, u"0000000A|<null guid>"},
    {__LINE__, u"%040g", {Slot(&SAMPLE_GUID)}, u"    0000000A-000B-00C0-0102-030405060708"},
    // Times.
    {__LINE__, u"%t", {Slot(&SAMPLE_TIME)}, u"12/07/2026  22:05"},
    {__LINE__, u"%t|%t", {Slot(&SMALL_TIME), 0}, u"01/02/0005  03:04|<null time>"},
    {__LINE__, u"%t", {Slot(&LARGE_TIME)}, u"255/255/65535  255:255"},
    // Statuses.
    {__LINE__, u"%r|%r|%r", {0, 5, 6}, u"Success|Warning Stale Data|00000006"},
    {__LINE__,
     u"%r|%r|%r",
     {EFI_ERROR_BIT, EFI_ERROR_BIT | 1, EFI_ERROR_BIT | 29},
     u"00000000|Load Error|Reserved (29)"},
    {__LINE__, u"%r|%r", {EFI_ERROR_BIT | 33, EFI_ERROR_BIT | 34}, u"Compromised Data|00000022"},
    {__LINE__,
     u"%r|%r",
     {(1ULL << 32) + 7, EFI_ERROR_BIT | (1ULL << 32) | 2},
     u"00000007|00000002"},
    {__LINE__,
     u"%.4r|%20r|%.20r",
     {EFI_INVALID_PARAMETER, EFI_INVALID_PARAMETER, 0},
     u"Inva|   Invalid Parameter|             Success"},
    {__LINE__,
     u"%lr|%,r|%+r|%0r",
     {1, 2, 3, 4},
     u"Warning Unknown Glyph|Warning Delete Failure|Warning Write Failure|Warning Buffer Too "
     u"Small"},
    // Flags, width and precision are reset before every format character.
    {__LINE__,
     u"%05d%3d|%,d%d|%.1s%s",
     {1, 2, 1234, 1234, Slot(ABC), Slot(ABC)},
     u"00001  2|1,2341234|aabc"},
    // Width digits wrap modulo 2^64; a directive cut off after "*", "l" or a precision.
    {__LINE__, u"%18446744073709551616d|%18446744073709551626d", {3, 3}, u"3|         3"},
    {__LINE__, u"ab%*", {4}, u"ab    "},
    {__LINE__, u"ab%l", {}, u"ab"},
    {__LINE__, u"ab%5.3", {}, u"ab     "},
    // Signs, and the low half of a slot without "l".
    {__LINE__, u"% d|%+05d|% 05d|%.3d", {MINUS(-5), 5, 5, MINUS(-5)}, u"-5|+0005| 0005|-005"},
    {__LINE__,
     u"%d|%ld|%u|%x|%lx",
     {0x100000005, 0x100000005, 0xFFFFFFFF00000007, 0x123456789ABCDEF0, 0x123456789ABCDEF0},
     u"5|4294967301|7|9ABCDEF0|123456789ABCDEF0"},
    {__LINE__,
     u"%,ld|%,lu",
     {0x8000000000000000, ~0ULL},
     u"-9,223,372,036,854,775,808|18,446,744,073,709,551,615"},
    {__LINE__, u"%+,d|%,5d|%,d", {1234, 12, 123456}, u"+1,234|   12|123,456"},
    // Records need no alignment; all-ones fields.
    {__LINE__, u"%g", {Slot(UNALIGNED_GUID + 1)}, u"0000000A-000B-00C0-0102-030405060708"},
    {__LINE__, u"%g", {Slot(&ONES_GUID)}, u"FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"},
    // Cut by the buffer inside a nested text.
    {__LINE__, u"%g", {Slot(&SAMPLE_GUID)}, u"0000", 5, 36},
    {__LINE__, u"x%r", {EFI_ERROR_BIT | 14}, u"x", 2, 10},
    // Nested renderings share the outer scratch area with integers: each uses it in turn.
    {__LINE__,
     u"%d %g %x %r %t %u",
     {12, Slot(&SAMPLE_GUID), 0xAB, 7, Slot(&SAMPLE_TIME), 99},
     u"12 0000000A-000B-00C0-0102-030405060708 AB 00000007 12/07/2026  22:05 99"},
};

// A directive that is an integer conversion alone (any "l", then d, u, x, X or p) is printed
// straight from its digits; each row pairs it with the nearest directives that are not.
const FormatRow PlainIntegerRows[] = {
    // Width 0 and 1, a precision of 1, zero fill: the general field, same digits.
    {__LINE__, u"%d|%0d|%1d|%.1d|%01d", {42, 42, 42, 42, 42}, u"42|42|42|42|42"},
    {__LINE__, u"%d|%1d|%3d|%.3d", {MINUS(-7), MINUS(-7), MINUS(-7), MINUS(-7)}, u"-7|-7| -7|-007"},
    {__LINE__, u"%X|%1X|%4X|%x|%4x", {0xAB, 0xAB, 0xAB, 0xAB, 0xAB}, u"AB|AB|00AB|AB|  AB"},
    {__LINE__, u"%p|%5p|%lp", {MINUS(-1), 0x12, 0xAB}, u"FFFFFFFFFFFFFFFF|00012|AB"},
    // Zero keeps its digit without a precision of 0.
    {__LINE__, u"%d|%u|%x|%p|%.0d|%.0x", {0, 0, 0, 0, 0, 0}, u"0|0|0|0||"},
    // Options: commas and signs take the general path.
    {__LINE__, u"%,d|%d|%+d|% d|%d", {1234567, 1234567, 5, 5, 5}, u"1,234,567|1234567|+5| 5|5"},
    // "l" repeated, in either case; "l" before a conversion that is not an integer.
    {__LINE__,
     u"%llu|%Lu|%lLx|%u",
     {MINUS(-1), MINUS(-2), MINUS(-1), MINUS(-1)},
     u"18446744073709551615|18446744073709551614|FFFFFFFFFFFFFFFF|4294967295"},
    {__LINE__, u"%lk|%lc|%lls", {0x41, Slot(u"ab")}, u"k|A|ab"},
    {__LINE__,
     u"%x|%lx|%d|%ld",
     {MINUS(-2), MINUS(-2), 0x80000000, 0x80000000},
     u"FFFFFFFE|FFFFFFFFFFFFFFFE|-2147483648|2147483648"},
    // One and two final digits around the digit-pair steps.
    {__LINE__,
     u"%u|%u|%u|%u|%u|%u|%d",
     {9, 10, 99, 100, 101, 1000, MINUS(-10)},
     u"9|10|99|100|101|1000|-10"},
    // Adjacent directives and a line end right after one.
    {__LINE__, u"%u%u%x\n", {1, 23, 0xF}, u"123F\r\n"},
    // The buffer ends inside the digits, right after the minus sign, or right before it.
    {__LINE__, u"ab%d", {12345}, u"ab12", 5, 7},
    {__LINE__, u"a%d", {MINUS(-42)}, u"a-", 3, 4},
    {__LINE__, u"a%d|", {MINUS(-42)}, u"a", 2, 5},
    {__LINE__, u"%lu", {MINUS(-1)}, u"1844674407370955161", 20, 20},
};

// Characters above 0xFF: whole in a wide buffer, the low byte in a narrow one, even when that
// byte is 0 or a line feed.
const FormatRow WideFormatRows[] = {
    {__LINE__, u"\u263A|%\u263A|%3\u263A", {}, u"\u263A|\u263A|  \u263A"},
    {__LINE__, u"\u0100x", {}, u"\u0100x"},
    {__LINE__, u"a\u010Ab", {}, u"a\u010Ab"},
    {__LINE__, u"%s|%c", {Slot(u"\u263A"), 0x263A}, u"\u263A|\u263A"},
};

TEST(FormatTableTest, RendersEveryRowInEveryWidth) {
  CheckRows(Rows, ALL_WIDTHS);
}

TEST(FormatTableTest, PlainIntegersAndTheirNeighbours) {
  CheckRows(PlainIntegerRows, ALL_WIDTHS);
}

TEST(FormatTableTest, WideFormatCharactersInBothOutputWidths) {
  CheckRows(WideFormatRows, WIDE_FORMAT_WIDTHS);
}

// One row per status value of both tables, and the values just beyond them.
TEST(FormatTableTest, EveryStatusText) {
  const char *const Successes[] = {"Success",
                                   "Warning Unknown Glyph",
                                   "Warning Delete Failure",
                                   "Warning Write Failure",
                                   "Warning Buffer Too Small",
                                   "Warning Stale Data"};
  const char *const Errors[] = {"Load Error",           "Invalid Parameter",  "Unsupported",
                                "Bad Buffer Size",      "Buffer Too Small",   "Not Ready",
                                "Device Error",         "Write Protected",    "Out of Resources",
                                "Volume Corrupt",       "Volume Full",        "No Media",
                                "Media changed",        "Not Found",          "Access Denied",
                                "No Response",          "No mapping",         "Time out",
                                "Not started",          "Already started",    "Aborted",
                                "ICMP Error",           "TFTP Error",         "Protocol Error",
                                "Incompatible Version", "Security Violation", "CRC Error",
                                "End of Media",         "Reserved (29)",      "Reserved (30)",
                                "End of File",          "Invalid Language",   "Compromised Data"};
  for (UINT64 Value = 0; Value < std::size(Successes); ++Value) {
    EXPECT_EQ(Render(u"%r", {Value}, 40, {false, false}).Text, Wide(Successes[Value]));
  }
  for (UINT64 Code = 1; Code <= std::size(Errors); ++Code) {
    EXPECT_EQ(Render(u"%r", {EFI_ERROR_BIT | Code}, 40, {false, true}).Text,
              Wide(Errors[Code - 1]));
  }
  EXPECT_EQ(Render(u"%r", {EFI_DEVICE_ERROR}, 40, {false, false}).Text, u"Device Error");
  // Each row is its text, then NUL bytes to the end of its fixed field.
  auto CheckField = [](const CHAR8 *Field, size_t FieldSize, const char *Text) {
    const std::string Padded = std::string(Text) + std::string(FieldSize - strlen(Text), '\0');
    EXPECT_EQ(std::string(Field, FieldSize), Padded) << Text;
  };
  for (size_t Row = 0; Row < SUCCESS_WARNING_ROWS; ++Row) {
    CheckField(SuccessWarningTexts[Row], sizeof(SuccessWarningTexts[Row]), Successes[Row]);
  }
  for (size_t Row = 0; Row < ERROR_ROWS; ++Row) {
    CheckField(ErrorTexts[Row], sizeof(ErrorTexts[Row]), Errors[Row]);
  }
  static_assert(std::size(SuccessWarningTexts) == 6 && sizeof(SuccessWarningTexts[0]) == 25);
  static_assert(std::size(ErrorTexts) == 33 && sizeof(ErrorTexts[0]) == 21);
}

} // namespace
