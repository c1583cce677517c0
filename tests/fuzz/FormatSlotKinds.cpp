// Which argument slots a format's directives take, and as what, read from the directive
// grammar: options (" ", "+", "-", ",", ".", "l", "L") and digits take none, each "*" takes an
// integer slot, and the conversion character takes one slot of its kind. The target gives
// string, GUID and time conversions pointers to objects of their kind and every other slot an
// integer, so an engine that took slots otherwise than its grammar says would read through
// an integer and be caught.
#include "tests/fuzz/FormatFuzzInput.h"

namespace {

constexpr uint16_t LINE_FEED = '\n';
constexpr uint16_t CARRIAGE_RETURN = '\r';

bool IsOption(uint16_t Character) {
  switch (Character) {
  case ' ':
  case '+':
  case '-':
  case ',':
  case '.':
  case 'l':
  case 'L':
    return true;
  default:
    return Character >= '0' && Character <= '9';
  }
}

// The slot a conversion character takes, if it takes one.
bool ConversionSlot(uint16_t Conversion, SlotKind &Kind) {
  switch (Conversion) {
  case 'd':
  case 'u':
  case 'x':
  case 'X':
  case 'p':
  case 'c':
  case 'r':
    Kind = SlotKind::Integer;
    return true;
  case 'a':
    Kind = SlotKind::NarrowString;
    return true;
  case 's':
  case 'S':
    Kind = SlotKind::WideString;
    return true;
  case 'g':
    Kind = SlotKind::Guid;
    return true;
  case 't':
    Kind = SlotKind::Time;
    return true;
  default:
    return false;
  }
}

// Index of the last character of the line end at Index: a line feed and a carriage return in
// either order are one line end.
size_t LineEndLast(const std::vector<uint16_t> &Format, size_t Index) {
  if (Index + 1 >= Format.size()) {
    return Index;
  }
  const uint16_t Character = Format[Index];
  const uint16_t Next = Format[Index + 1];
  const bool Pair = (Character == LINE_FEED && Next == CARRIAGE_RETURN) ||
                    (Character == CARRIAGE_RETURN && Next == LINE_FEED);
  return Pair ? Index + 1 : Index;
}

} // namespace

std::vector<SlotKind> ScanSlotKinds(const std::vector<uint16_t> &Format) {
  std::vector<SlotKind> Kinds;
  size_t Index = 0;
  while (Index < Format.size()) {
    const uint16_t Character = Format[Index];
    if (Character == LINE_FEED || Character == CARRIAGE_RETURN) {
      Index = LineEndLast(Format, Index) + 1;
      continue;
    }
    if (Character != '%') {
      ++Index;
      continue;
    }
    // A directive: options and "*" until the conversion character.
    ++Index;
    while (Index < Format.size() && (IsOption(Format[Index]) || Format[Index] == '*')) {
      if (Format[Index] == '*') {
        Kinds.push_back(SlotKind::Integer);
      }
      ++Index;
    }
    if (Index == Format.size()) {
      break; // the format ends inside the directive
    }
    const uint16_t Conversion = Format[Index];
    SlotKind Kind = SlotKind::Integer;
    if (Conversion == LINE_FEED || Conversion == CARRIAGE_RETURN) {
      Index = LineEndLast(Format, Index);
    } else if (ConversionSlot(Conversion, Kind)) {
      Kinds.push_back(Kind);
    }
    ++Index;
  }
  return Kinds;
}
