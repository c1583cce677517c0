// The annotated report's notes in words.
#include "verdict/ReportNotes.h"

#include "verdict/SizeIndexWords.h"

namespace {

// Hex digits of a segment, a bus, a device and a function in a function's address.
constexpr UINTN SEGMENT_DIGITS = 4;
constexpr UINTN BUS_DIGITS = 2;
constexpr UINTN DEVICE_DIGITS = 2;
constexpr UINTN FUNCTION_DIGITS = 1;

// Capability register bits of the sizes the driver reads (1 MB to 512 GB, bits 23..4), and of
// the larger ones it leaves out (1 TB to 128 TB, bits 31..24); bit 4 + n is size index n.
constexpr UINT32 CAPABILITY_SIZES_READ = 0x00FFFFF0;
constexpr UINT32 CAPABILITY_SIZES_SHIFT = 4;
constexpr UINT32 MASK_BITS = 32;

// The lowest and the highest size index of a non-zero Mask.
UINT32 Lowest(UINT32 Mask) {
  return static_cast<UINT32>(__builtin_ctz(Mask));
}
UINT32 Highest(UINT32 Mask) {
  return MASK_BITS - 1 - static_cast<UINT32>(__builtin_clz(Mask));
}

// "256 MB to 1 GB", or "2 MB" for a single size.
void AppendSizeRange(TextBuffer &Out, UINT32 Mask) {
  if (Mask == 0) {
    AppendText(Out, "no size");
    return;
  }
  AppendSizeIndex(Out, Lowest(Mask));
  if (Highest(Mask) != Lowest(Mask)) {
    AppendText(Out, " to ");
    AppendSizeIndex(Out, Highest(Mask));
  }
}

// "  BAR n: ".
void AppendBarStart(TextBuffer &Out, UINT32 Bar) {
  AppendText(Out, "  BAR ");
  AppendDecimal(Out, Bar);
  AppendText(Out, ": ");
}

} // namespace

void AppendSizeIndex(TextBuffer &Out, UINT32 Index) {
  const SizeWords Words = SizeIndexWords(Index);
  if (Words.Unit == nullptr) {
    AppendText(Out, "2^");
    AppendDecimal(Out, Words.Count);
    AppendText(Out, " MB");
    return;
  }
  AppendDecimal(Out, Words.Count);
  AppendText(Out, " ");
  AppendText(Out, Words.Unit);
}

void AppendNothingToPropose(TextBuffer &Out, UINT32 Bar, UINT32 Mask, UINT32 Current) {
  AppendBarStart(Out, Bar);
  if (Mask != 0 && Lowest(Mask) == Highest(Mask)) {
    AppendSizeIndex(Out, Lowest(Mask));
    AppendText(Out, " only, nothing to propose");
    return;
  }
  // The driver proposes any supported size but the current one and 1 MB: with nothing
  // proposed, the others are those two.
  AppendSizeRange(Out, Mask);
  AppendText(Out, ", at ");
  AppendSizeIndex(Out, Current);
  AppendText(Out, "; 1 MB is never proposed, so nothing to propose");
}

void AppendWidenedSizes(TextBuffer &Out, UINT32 Bar, UINT32 Advertised, UINT32 Used) {
  AppendBarStart(Out, Bar);
  AppendText(Out, "the card advertises ");
  AppendSizeRange(Out, Advertised);
  AppendText(Out, "; the driver takes ");
  AppendSizeRange(Out, Used);
  AppendText(Out, ", the sizes it decodes");
}

void AppendSizesLeftOut(TextBuffer &Out, UINT32 Bar, UINT32 LeftOut) {
  AppendBarStart(Out, Bar);
  AppendText(Out, "the capability also advertises ");
  AppendSizeRange(Out, LeftOut);
  AppendText(Out, ", sizes the report leaves out");
}

void AppendSkippedFunctions(TextBuffer &Out, UINT32 Segment, UINT8 Bus, UINT8 Device, UINT8 First,
                            UINT8 Last) {
  AppendHex(Out, Segment, SEGMENT_DIGITS);
  AppendText(Out, ":");
  AppendHex(Out, Bus, BUS_DIGITS);
  AppendText(Out, ":");
  AppendHex(Out, Device, DEVICE_DIGITS);
  AppendText(Out, ".");
  AppendHex(Out, First, FUNCTION_DIGITS);
  if (Last != First) {
    AppendText(Out, "-");
    AppendHex(Out, Last, FUNCTION_DIGITS);
  }
  AppendText(Out, " not scanned: the driver reads only function 0 of a device whose function 0 "
                  "is not multi-function");
}

UINT32 SizesLeftOut(UINT32 Capability) {
  return (Capability & ~CAPABILITY_SIZES_READ) >> CAPABILITY_SIZES_SHIFT;
}
