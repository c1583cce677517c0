// Boundaries between the engine's direct paths and its general one. A wide format into a wide
// buffer writes plain decimals straight when the room holds their longest field, simple
// integers (a "0" flag, a width below 37) and text conversions without options in one step,
// and line ends and runs without a check per character; every other directive, and every
// other width pair, goes through the general parse or the sink. Each row sits on one side of
// such a boundary and runs in all four widths and counted.
#include "firmware/UefiStatus.h"
#include "tests/unit/FormatTestSupport.h"

namespace {

constexpr ArgumentSlot MINUS(int64_t Value) {
  return static_cast<ArgumentSlot>(Value);
}

const CHAR16 HELLO[] = u"hello";
const CHAR16 EMPTY[] = u"";
const CHAR8 NARROW_HELLO[] = "hello";
const EFI_GUID SAMPLE_GUID = {0xA, 0xB, 0xC0, {1, 2, 3, 4, 5, 6, 7, 8}};
const EFI_TIME SAMPLE_TIME = {2026, 12, 7, 22, 5, 59, 0, 0, 0, 0, 0};

// The longest plain decimals: 20 characters each.
constexpr ArgumentSlot LARGEST = ~0ULL;
constexpr ArgumentSlot MOST_NEGATIVE = 0x8000000000000000ULL;

const FormatRow PlainDecimalRoomRows[] = {
    // Room for 21 characters: written straight; 20 and 19: written up to the end.
    {__LINE__, u"%lu", {LARGEST}, u"18446744073709551615", 22},
    {__LINE__, u"%lu", {LARGEST}, u"18446744073709551615", 21},
    {__LINE__, u"%lu", {LARGEST}, u"1844674407370955161", 20, 20},
    {__LINE__, u"%ld", {MOST_NEGATIVE}, u"-9223372036854775808", 22},
    {__LINE__, u"%ld", {MOST_NEGATIVE}, u"-9223372036854775808", 21},
    {__LINE__, u"%ld", {MOST_NEGATIVE}, u"-922337203685477580", 20, 20},
    // The same room reached after text: the check is of the room left, not of the buffer.
    {__LINE__, u"ab%u|", {MINUS(-1)}, u"ab4294967295|", 25},
    {__LINE__, u"ab%d|", {MINUS(-7)}, u"ab-7|", 24},
    {__LINE__, u"ab%d|", {MINUS(-7)}, u"ab-7", 5, 5},
    // A line end right after the digits, and directives back to back.
    {__LINE__, u"%u\n%d%lu", {7, MINUS(-8), 9}, u"7\r\n-89"},
    // Upper-case "L" and a doubled "l" take the simple path: the same digits.
    {__LINE__, u"%Lu|%llu|%lld|%lu", {MINUS(-1), 5, MINUS(-5), 5}, u"18446744073709551615|5|-5|5"},
};

const FormatRow SimpleIntegerRows[] = {
    // Blank and zero fill, with and without a sign; "X" and "p" fill with zeros.
    {__LINE__, u"%5d|%05d|%5u|%05u", {MINUS(-42), MINUS(-42), 42, 42}, u"  -42|-0042|   42|00042"},
    {__LINE__, u"%4x|%04x|%4X|%6p", {0xAB, 0xAB, 0xAB, 0xAB}, u"  AB|00AB|00AB|0000AB"},
    {__LINE__, u"%016lX|%5lu|%2d|%1d", {0x6000000000, 7, 123, 5}, u"0000006000000000|    7|123|5"},
    // Leading zeros of the width, a width of zero, a width below the field.
    {__LINE__, u"%0005d|%00d|%0d|%02d", {3, 3, MINUS(-3), MINUS(-3)}, u"00003|3|-3|-3"},
    // Widths 36 (simple) and 37 (general) give fields of their width either way.
    {__LINE__,
     u"%036d|%37d",
     {1, 2},
     std::u16string(35, u'0') + u"1|" + std::u16string(36, u' ') + u"2"},
    {__LINE__, u"%99d", {MINUS(-1)}, std::u16string(97, u' ') + u"-1"},
    // Options, a precision or a second number take the general path.
    {__LINE__, u"%-5d|%+5d|%5.3d|%5,d", {1, 2, 3, 4000}, u"1    |   +2|  003|4,000"},
    // Cut by the end of the buffer inside the blanks, the zeros and the digits.
    {__LINE__, u"%8d", {1}, u"   ", 4, 8},
    {__LINE__, u"%08X", {0xAB}, u"00000", 6, 8},
    {__LINE__, u"x%5d", {12345}, u"x123", 5, 6},
    // Not an integer after all: the "0" and the width apply to the character.
    {__LINE__, u"%05k|%3l", {}, u"    k|   "},
};

const FormatRow PlainTextRows[] = {
    // Strings print whole; an empty one prints nothing, a null one its placeholder.
    {__LINE__,
     u"%s|%S|%a|%s|%a",
     {Slot(HELLO), Slot(HELLO), Slot(NARROW_HELLO), Slot(EMPTY), 0},
     u"hello|hello|hello||<null string>"},
    // A character 0 is one blank; with a precision of 0 it is nothing.
    {__LINE__, u"%c|%c|%.0c|%1c", {0x41, 0, 0, 0}, u"A| || "},
    {__LINE__,
     u"%g|%t|%r|%r",
     {Slot(&SAMPLE_GUID), Slot(&SAMPLE_TIME), EFI_NOT_FOUND, 0x22},
     u"0000000A-000B-00C0-0102-030405060708|12/07/2026  22:05|Not Found|00000022"},
    // With options, the general path: the same text, padded or cut.
    {__LINE__, u"%6s|%.2s|%-3c|%.4r", {Slot(HELLO), Slot(HELLO), 0x42, 0}, u" hello|he|B  |Succ"},
    // Cut by the end of the buffer inside a text and on a blank.
    {__LINE__, u"%s", {Slot(HELLO)}, u"hel", 4, 5},
    {__LINE__, u"ab%c", {0}, u"ab", 3, 3},
    {__LINE__, u"ab%c", {0}, u"ab ", 4, 3},
    {__LINE__, u"%g", {Slot(&SAMPLE_GUID)}, u"0000000A-", 10, 36},
};

const FormatRow LineEndAndRunRows[] = {
    // The carriage return takes the last slot: the line feed is cut.
    {__LINE__, u"ab\n", {}, u"ab\r", 4, 4},
    {__LINE__, u"ab\r\n", {}, u"ab\r", 4, 4},
    {__LINE__, u"ab\n", {}, u"ab\r\n", 5, 4},
    {__LINE__, u"a\rb", {}, u"a\r", 3, 3},
    // A run cut by the end, and a run that ends the format exactly at the end.
    {__LINE__, u"abcdef%d", {1}, u"abcd", 5, 7},
    {__LINE__, u"abcd", {}, u"abcd", 5},
};

TEST(FormatFastPathTest, PlainDecimalsAtTheRoomBoundary) {
  CheckRows(PlainDecimalRoomRows, ALL_WIDTHS);
}

TEST(FormatFastPathTest, SimpleIntegersAndTheGeneralPath) {
  CheckRows(SimpleIntegerRows, ALL_WIDTHS);
}

TEST(FormatFastPathTest, TextConversionsWithoutOptions) {
  CheckRows(PlainTextRows, ALL_WIDTHS);
}

TEST(FormatFastPathTest, LineEndsAndRunsAtTheEnd) {
  CheckRows(LineEndAndRunRows, ALL_WIDTHS);
}

} // namespace
