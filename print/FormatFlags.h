// The format engine's flag word. Callers set only WIDE_OUTPUT, WIDE_FORMAT and COUNT_ONLY; the
// other bits are the state of the directive being parsed and printed.
#pragma once

#include "firmware/UefiBase.h"

using FormatFlags = UINT32;

// "-": pad after the field instead of before it.
inline constexpr FormatFlags LEFT_ALIGN = 0x0001;
// "+": integer prefix "+" (cleared by "u" and "p").
inline constexpr FormatFlags SIGN_PLUS = 0x0002;
// " ": integer prefix " " when SIGN_PLUS is absent (cleared by "p").
inline constexpr FormatFlags SIGN_SPACE = 0x0004;
// ",": decimal digits grouped by threes.
inline constexpr FormatFlags GROUP_COMMAS = 0x0008;
// "l", "L", "p": the integer argument is the whole 64-bit slot.
inline constexpr FormatFlags LONG_ARG = 0x0010;
// "0" as first width digit, "X", "p": zero fill of an integer field up to its width.
inline constexpr FormatFlags ZERO_PAD = 0x0020;
// Caller: the output buffer holds 2-byte characters.
inline constexpr FormatFlags WIDE_OUTPUT = 0x0040;
// "x", "X", "p": radix 16.
inline constexpr FormatFlags HEX_RADIX = 0x0080;
// Caller: the format string holds 2-byte characters.
inline constexpr FormatFlags WIDE_FORMAT = 0x0100;
// Width digits, or "*" before ".": a width is present.
inline constexpr FormatFlags HAS_WIDTH = 0x0200;
// Engine: the argument string holds 2-byte characters.
inline constexpr FormatFlags WIDE_ARGUMENT = 0x0400;
// ".": a precision is present.
inline constexpr FormatFlags HAS_PRECISION = 0x0800;
// Integer conversions: the argument string is a digit run read backwards.
inline constexpr FormatFlags REVERSED_DIGITS = 0x1000;
// Caller: write nothing, return the character count.
inline constexpr FormatFlags COUNT_ONLY = 0x2000;
// "u": the decimal argument has no sign.
inline constexpr FormatFlags UNSIGNED_ARG = 0x4000;

// The caller's bits, kept across format characters; all others are reset before each one.
inline constexpr FormatFlags CALLER_FLAGS = WIDE_OUTPUT | WIDE_FORMAT | COUNT_ONLY;
