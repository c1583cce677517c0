// Fuzz target of the format engine. Each input is one call of FormatCore (format, caller
// flags, buffer size, output and format widths, argument slots; see FormatFuzzInput.h), made
// as decoded and then again as references. Checked on every input:
// - a refused call returns 0 and writes nothing;
// - a writing call returns at most buffer size - 1, writes the terminator right after the
//   characters it reports and no other byte of the buffer or around it;
// - a COUNT_ONLY call writes nothing, with or without a buffer, and returns the tally;
// - the tally equals the written count whenever the buffer is large enough, and a smaller
//   buffer holds the first size - 1 characters of the same rendering;
// - caller flag bits other than WIDE_OUTPUT, WIDE_FORMAT and COUNT_ONLY change nothing;
// - narrow output holds the low bytes of wide output; a format rendered from narrow or wide
//   characters gives the same result.
#include <algorithm>
#include <string>

#include "tests/fuzz/FormatFuzzInput.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/GuardedBuffer.h"

namespace {

// Largest reference buffer, in characters, unless the call's own buffer is larger.
constexpr uint64_t ROOMY_CHARS = 1ULL << 16;
// Characters of the buffer handed along with a size that is refused.
constexpr uint64_t REFUSED_BUFFER_CHARS = 16;
constexpr uint16_t LOW_BYTE_MASK = 0xFF;

struct Rendering {
  uint64_t Result;
  std::vector<uint16_t> Text;
};

// What every call of one input shares: the format and the argument list.
struct Call {
  const void *Format;
  const ArgumentSlot *Arguments;
};

// True when the engine must refuse the call, by its entry checks.
bool IsRefused(const FormatCase &Case, bool NullBuffer, bool NullFormat) {
  const uint64_t Size = Case.BufferSize;
  return (Size != 0 && !Case.CountOnly && NullBuffer) ||
         ((Size != 0 || Case.CountOnly) && NullFormat) || Size > FORMAT_MAX_CHARS ||
         (!NullFormat && Case.FormatLength > FORMAT_MAX_CHARS) || (Size == 0 && !Case.CountOnly);
}

// Checks what every writing call promises about the buffer it was given.
void CheckWritten(const std::string &What, const GuardedBuffer &Buffer, uint64_t Result) {
  Require(Result + 1 <= Buffer.Chars,
          Mismatch(What + ": result beyond size - 1", Result, Buffer.Chars - 1));
  Require(Buffer.CharAt(Result) == 0, What + ": no terminator after the reported characters");
  Require(Buffer.UntouchedOutside(Result + 1),
          What + ": a byte was written before the buffer, after the terminator or past the end");
}

// A writing call into a fresh guarded buffer of Chars characters, checked.
Rendering Render(const std::string &What, const Call &Made, FormatFlags Widths, uint64_t Chars) {
  const GuardedBuffer Buffer(Chars, (Widths & WIDE_OUTPUT) != 0);
  const uint64_t Result = FormatCore(Buffer.Start(), Chars, Widths, Made.Format, Made.Arguments);
  CheckWritten(What, Buffer, Result);
  return {Result, Buffer.Text(Result)};
}

uint64_t Tally(const Call &Made, FormatFlags Widths) {
  return FormatCore(nullptr, 0, Widths | COUNT_ONLY, Made.Format, Made.Arguments);
}

std::vector<uint16_t> LowBytes(const std::vector<uint16_t> &Text) {
  std::vector<uint16_t> Low;
  Low.reserve(Text.size());
  for (const uint16_t Character : Text) {
    Low.push_back(Character & LOW_BYTE_MASK);
  }
  return Low;
}

bool IsPrefix(const std::vector<uint16_t> &Part, const std::vector<uint16_t> &Whole) {
  return Part.size() <= Whole.size() && std::equal(Part.begin(), Part.end(), Whole.begin());
}

// The same format from characters of the other width, when it can be written in it: a wide
// format only when every character fits a byte.
bool OtherWidthFormat(const FormatCase &Case) {
  return !Case.WideFormat ||
         std::all_of(Case.Format.begin(), Case.Format.end(),
                     [](uint16_t Character) { return Character <= LOW_BYTE_MASK; });
}

// The references: the tally, full renderings in both output widths, and the format in the
// other character width; then the call as made is compared with them.
void CheckAgainstReferences(const FormatCase &Case, const Call &Made, const Rendering *Written,
                            uint64_t CountOnlyResult) {
  const FormatFlags FormatWidth = Case.WideFormat ? WIDE_FORMAT : 0;
  const uint64_t Counted = Tally(Made, FormatWidth);
  if (Case.CountOnly) {
    Require(
        CountOnlyResult == Counted,
        Mismatch("COUNT_ONLY result against the tally without a buffer", CountOnlyResult, Counted));
  }

  // Room for the whole rendering and its terminator, unless that is larger than the cap (a
  // saturated tally included).
  const uint64_t Cap = std::max(Case.BufferSize, ROOMY_CHARS);
  const uint64_t Roomy = Counted < Cap ? Counted + 1 : Cap;
  const Rendering Narrow = Render("narrow reference", Made, FormatWidth, Roomy);
  const Rendering Wide = Render("wide reference", Made, FormatWidth | WIDE_OUTPUT, Roomy);
  Require(Narrow.Result == Wide.Result,
          Mismatch("narrow against wide output result", Narrow.Result, Wide.Result));
  Require(Narrow.Text == LowBytes(Wide.Text), "narrow output is not the low bytes of wide output");
  if (Counted < Roomy) {
    Require(
        Wide.Result == Counted,
        Mismatch("written count in a large enough buffer against the tally", Wide.Result, Counted));
  }

  if (Written != nullptr) {
    const uint64_t Expected = std::min(Counted, Case.BufferSize - 1);
    Require(Written->Result == Expected,
            Mismatch("result against min(tally, size - 1)", Written->Result, Expected));
    Require(IsPrefix(Written->Text, Case.WideOutput ? Wide.Text : Narrow.Text),
            "the buffer does not hold the start of the full rendering");
  }

  if (OtherWidthFormat(Case)) {
    const std::unique_ptr<uint8_t[]> Other =
        BuildFormat(Case.Format, Case.FormatLength, !Case.WideFormat);
    const Call OtherCall{Other.get(), Made.Arguments};
    const FormatFlags OtherWidth = Case.WideFormat ? 0 : WIDE_FORMAT;
    const uint64_t OtherCounted = Tally(OtherCall, OtherWidth);
    Require(OtherCounted == Counted,
            Mismatch("tally of the format in the other width", OtherCounted, Counted));
    const Rendering OtherWide =
        Render("other-width format", OtherCall, OtherWidth | WIDE_OUTPUT, Roomy);
    Require(OtherWide.Text == Wide.Text, "the format in the other width renders differently");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const FormatCase Case = DecodeFormatCase(Data, Size);
  const bool NullBuffer = (Case.Options & FORMAT_OPTION_NULL_BUFFER) != 0;
  const bool NullFormat = (Case.Options & FORMAT_OPTION_NULL_FORMAT) != 0;
  const bool NullArguments = (Case.Options & FORMAT_OPTION_NULL_ARGUMENTS) != 0;

  const std::vector<SlotKind> Kinds = ScanSlotKinds(Case.Format);
  ArgumentStore Store;
  BuildArguments(Case, Kinds, Store);
  const std::unique_ptr<uint8_t[]> Format =
      BuildFormat(Case.Format, Case.FormatLength, Case.WideFormat);
  const Call Made{NullFormat ? nullptr : Format.get(), NullArguments ? nullptr : Store.Slots.get()};

  // A refused size still comes with a small buffer, which must stay untouched.
  const uint64_t BufferChars =
      Case.BufferSize <= FORMAT_MAX_CHARS ? Case.BufferSize : REFUSED_BUFFER_CHARS;
  const GuardedBuffer Buffer(BufferChars, Case.WideOutput);
  const uint64_t Result = FormatCore(NullBuffer ? nullptr : Buffer.Start(), Case.BufferSize,
                                     Case.CallerFlags, Made.Format, Made.Arguments);

  if (IsRefused(Case, NullBuffer, NullFormat)) {
    Require(Result == 0, Mismatch("result of a refused call", Result, 0));
    Require(Buffer.UntouchedOutside(0), "a refused call wrote into its buffer");
    return 0;
  }
  if (Case.CountOnly) {
    Require(Buffer.UntouchedOutside(0), "a COUNT_ONLY call wrote into its buffer");
    CheckAgainstReferences(Case, Made, nullptr, Result);
    return 0;
  }
  CheckWritten("the call as decoded", Buffer, Result);
  const Rendering Written{Result, Buffer.Text(Result)};
  CheckAgainstReferences(Case, Made, &Written, 0);
  return 0;
}
