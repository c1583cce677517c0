// Decoding of the format target's input, and the owned objects its pointer arguments point to.
#include "tests/fuzz/FormatFuzzInput.h"

#include <algorithm>
#include <cstring>

namespace {

// Buffer sizes at the engine's edges: empty, one character (terminator only), the scratch
// area's size, the console's buffer, the largest size and the first refused one, and sizes
// beyond 32 bits.
constexpr uint64_t EDGE_BUFFER_SIZES[16] = {
    0,
    1,
    2,
    3,
    4,
    37,
    38,
    39,
    320,
    321,
    322,
    FORMAT_MAX_CHARS,
    FORMAT_MAX_CHARS + 1,
    (1ULL << 32) + 5,
    ~0ULL,
    1000,
};

constexpr uint16_t NARROW_FORMAT_MASK = 0xFF;
constexpr uint16_t PADDING_CHAR = 'x';
constexpr unsigned BITS_PER_BYTE = 8;
constexpr size_t VALUE_BYTES = 8;
constexpr size_t WIDE_VALUE_CHARS = VALUE_BYTES / 2;

uint64_t ReadLittleEndian(const uint8_t *Bytes, size_t Count) {
  uint64_t Value = 0;
  for (size_t Index = Count; Index > 0; --Index) {
    Value = (Value << BITS_PER_BYTE) | Bytes[Index - 1];
  }
  return Value;
}

uint8_t ValueByte(uint64_t Value, size_t Index) {
  return static_cast<uint8_t>(Value >> (BITS_PER_BYTE * Index));
}

std::unique_ptr<uint8_t[]> Own(const std::vector<uint8_t> &Bytes) {
  auto Object = std::make_unique<uint8_t[]>(Bytes.size());
  std::memcpy(Object.get(), Bytes.data(), Bytes.size());
  return Object;
}

// A string of the value's characters before their first NUL, repeated Repeats times, with
// its terminator: CharBytes 1 for narrow, 2 for wide.
std::vector<uint8_t> RepeatedString(uint64_t Value, unsigned Repeats, size_t CharBytes) {
  std::vector<uint8_t> Unit;
  const size_t Chars = CharBytes == 1 ? VALUE_BYTES : WIDE_VALUE_CHARS;
  for (size_t Index = 0; Index < Chars; ++Index) {
    const uint8_t Low = ValueByte(Value, Index * CharBytes);
    const uint8_t High = CharBytes == 1 ? 0 : ValueByte(Value, Index * CharBytes + 1);
    if (Low == 0 && High == 0) {
      break;
    }
    Unit.push_back(Low);
    if (CharBytes == 2) {
      Unit.push_back(High);
    }
  }
  std::vector<uint8_t> Bytes;
  for (unsigned Repeat = 0; Repeat < Repeats; ++Repeat) {
    Bytes.insert(Bytes.end(), Unit.begin(), Unit.end());
  }
  Bytes.insert(Bytes.end(), CharBytes, 0);
  return Bytes;
}

// A 16-byte record (EFI_GUID or EFI_TIME): the value's bytes, then the same bytes with the
// selector mixed in.
std::vector<uint8_t> Record16(const ArgumentRecord &Record) {
  std::vector<uint8_t> Bytes(sizeof(EFI_GUID));
  for (size_t Index = 0; Index < VALUE_BYTES; ++Index) {
    Bytes[Index] = ValueByte(Record.Value, Index);
    Bytes[VALUE_BYTES + Index] = ValueByte(Record.Value, Index) ^ Record.Selector;
  }
  return Bytes;
}

static_assert(sizeof(EFI_GUID) == sizeof(EFI_TIME));

} // namespace

FormatCase DecodeFormatCase(const uint8_t *Data, size_t Size) {
  FormatCase Case;
  if (Size < FORMAT_INPUT_HEADER_BYTES) {
    return Case;
  }
  Case.Options = Data[0];
  Case.WideOutput = (Case.Options & FORMAT_OPTION_WIDE_OUTPUT) != 0;
  Case.WideFormat = (Case.Options & FORMAT_OPTION_WIDE_FORMAT) != 0;
  Case.CountOnly = (Case.Options & FORMAT_OPTION_COUNT_ONLY) != 0;
  Case.CallerFlags = (Case.WideOutput ? WIDE_OUTPUT : 0) | (Case.WideFormat ? WIDE_FORMAT : 0) |
                     (Case.CountOnly ? COUNT_ONLY : 0);
  for (unsigned Bit = 0; Bit < BITS_PER_BYTE; ++Bit) {
    if ((Data[1] & (1U << Bit)) != 0) {
      Case.CallerFlags |= JUNK_FLAG_BITS[Bit];
    }
  }
  const auto SizeSelector = static_cast<uint16_t>(ReadLittleEndian(Data + 2, 2));
  const bool EdgeSize = SizeSelector >= FORMAT_INPUT_EDGE_SIZE_SELECTOR;
  Case.BufferSize = !EdgeSize ? SizeSelector & FORMAT_INPUT_PLAIN_SIZE_MASK
                              : EDGE_BUFFER_SIZES[SizeSelector & FORMAT_INPUT_EDGE_SIZE_MASK];

  size_t Position = FORMAT_INPUT_HEADER_BYTES;
  const size_t RecordCount = Data[4] & FORMAT_INPUT_RECORD_COUNT_MASK;
  for (size_t Index = 0; Index < RecordCount && Position + FORMAT_INPUT_RECORD_BYTES <= Size;
       ++Index) {
    Case.Records.push_back({Data[Position], ReadLittleEndian(Data + Position + 1, VALUE_BYTES)});
    Position += FORMAT_INPUT_RECORD_BYTES;
  }

  const size_t CharBytes = Case.WideFormat ? 2 : 1;
  for (; Position + CharBytes <= Size; Position += CharBytes) {
    const auto Character = static_cast<uint16_t>(ReadLittleEndian(Data + Position, CharBytes));
    if (Character == 0) {
      break;
    }
    Case.Format.push_back(Character);
  }
  Case.FormatLength = EdgeSize && (Case.Options & FORMAT_OPTION_FORMAT_TOO_LONG) != 0
                          ? std::max<uint64_t>(Case.Format.size(), FORMAT_MAX_CHARS + 1)
                          : Case.Format.size();
  return Case;
}

void BuildArguments(const FormatCase &Case, const std::vector<SlotKind> &Kinds,
                    ArgumentStore &Store) {
  Store.SlotCount = Kinds.size();
  Store.Slots = std::make_unique<ArgumentSlot[]>(Kinds.size());
  for (size_t Index = 0; Index < Kinds.size(); ++Index) {
    const ArgumentRecord Record =
        Case.Records.empty() ? ArgumentRecord{0, 0} : Case.Records[Index % Case.Records.size()];
    if (Kinds[Index] == SlotKind::Integer) {
      Store.Slots[Index] = Record.Value;
      continue;
    }
    if (Record.Selector == 0) {
      Store.Slots[Index] = 0;
      continue;
    }
    std::vector<uint8_t> Bytes;
    switch (Kinds[Index]) {
    case SlotKind::NarrowString:
      Bytes = RepeatedString(Record.Value, Record.Selector, 1);
      break;
    case SlotKind::WideString:
      Bytes = RepeatedString(Record.Value, Record.Selector, 2);
      break;
    default:
      Bytes = Record16(Record);
      break;
    }
    Store.Objects.push_back(Own(Bytes));
    Store.Slots[Index] = reinterpret_cast<ArgumentSlot>(Store.Objects.back().get());
  }
}

std::unique_ptr<uint8_t[]> BuildFormat(const std::vector<uint16_t> &Format, uint64_t Length,
                                       bool Wide) {
  const size_t CharBytes = Wide ? 2 : 1;
  auto Bytes = std::make_unique<uint8_t[]>((Length + 1) * CharBytes);
  for (size_t Index = 0; Index < Format.size(); ++Index) {
    if (Wide) {
      Bytes[2 * Index] = static_cast<uint8_t>(Format[Index]);
      Bytes[2 * Index + 1] = static_cast<uint8_t>(Format[Index] >> BITS_PER_BYTE);
    } else {
      Bytes[Index] = static_cast<uint8_t>(Format[Index] & NARROW_FORMAT_MASK);
    }
  }
  // The padding is written byte by byte: "x" and, for wide characters, a high byte of 0.
  uint8_t *Padding = Bytes.get() + Format.size() * CharBytes;
  const size_t PaddingChars = Length - Format.size();
  if (Wide) {
    for (size_t Index = 0; Index < PaddingChars; ++Index) {
      Padding[2 * Index] = PADDING_CHAR;
    }
  } else {
    std::memset(Padding, PADDING_CHAR, PaddingChars);
  }
  // make_unique value-initialises: the terminator is already there.
  return Bytes;
}
