// The firmware's facts in the verdict engine: descriptor lists read to their bound and no
// further, the "@" lines written and read back, and the apertures' owners and answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/AcpiDescriptors.h"
#include "verdict/Apertures.h"
#include "verdict/FactsLines.h"

namespace {

constexpr uint64_t MB = 1ULL << 20;
constexpr uint64_t GB = 1ULL << 30;

// Bytes of one address space descriptor: QWORD (46 bytes) or DWORD (26), its length field as
// given, a resource type, granularity, minimum and length.
std::vector<uint8_t> Descriptor(bool Qword, uint16_t LengthField, uint8_t Type,
                                uint64_t Granularity, uint64_t Minimum, uint64_t Length) {
  const size_t Width = Qword ? 8 : 4;
  std::vector<uint8_t> Bytes(Qword ? 46 : 26, 0);
  Bytes[0] = Qword ? 0x8A : 0x87;
  Bytes[1] = static_cast<uint8_t>(LengthField);
  Bytes[2] = static_cast<uint8_t>(LengthField >> 8);
  Bytes[3] = Type;
  const size_t Fields[] = {6, 6 + Width, 6 + 4 * Width};
  const uint64_t Values[] = {Granularity, Minimum, Length};
  for (size_t Field = 0; Field < 3; ++Field) {
    for (size_t Byte = 0; Byte < Width; ++Byte) {
      Bytes[Fields[Field] + Byte] = static_cast<uint8_t>(Values[Field] >> (8 * Byte));
    }
  }
  return Bytes;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> Parts) {
  std::vector<uint8_t> Bytes;
  for (const std::vector<uint8_t> &Part : Parts) {
    Bytes.insert(Bytes.end(), Part.begin(), Part.end());
  }
  return Bytes;
}

const std::vector<uint8_t> END = {ACPI_END_TAG_DESCRIPTOR, 0};
const std::vector<uint8_t> BUS = Descriptor(true, 43, ACPI_ADDRESS_SPACE_TYPE_BUS, 0, 0, 2);
const std::vector<uint8_t> MEM32 =
    Descriptor(true, 43, ACPI_ADDRESS_SPACE_TYPE_MEM, 32, 0xC0000000, 17 * MB);
const std::vector<uint8_t> MEM64 =
    Descriptor(false, 23, ACPI_ADDRESS_SPACE_TYPE_MEM, 64, 0x80000000, 256 * MB);

struct ListRow {
  const char *Case;
  std::vector<uint8_t> List;
  // Bytes the caller lets the reader look at; the list's own size when 0.
  size_t Bound;
  bool Known;
  size_t Allocated;
};

const std::vector<ListRow> LIST_ROWS = {
    {"QWORD and DWORD descriptors closed by an end tag", Join({BUS, MEM32, MEM64, END}), 0, true,
     2},
    {"empty list", {}, 0, false, 0},
    {"end tag without its checksum byte", {ACPI_END_TAG_DESCRIPTOR}, 0, false, 0},
    {"short: the tag and half a length field", {0x8A, 43}, 0, false, 0},
    {"wrong length field", Join({Descriptor(true, 42, 0, 32, 0xC0000000, MB), END}), 0, false, 0},
    {"a DWORD tag with a QWORD's length", Join({Descriptor(false, 43, 0, 32, 0, MB), END}), 0,
     false, 0},
    {"no end tag", Join({BUS, MEM32}), 0, false, 0},
    {"truncated by the bound", Join({BUS, MEM32, END}), 46 + 20, false, 0},
    {"end tag past the bound", Join({BUS, MEM32, END}), 92, false, 0},
    {"unknown descriptor", Join({{0x86, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, END}), 0, false, 0},
    {"range past the end of the address space",
     Join({Descriptor(true, 43, 0, 64, UINT64_MAX - MB, 2 * MB), END}), 0, false, 0},
    {"bus numbers past 255", Join({Descriptor(true, 43, 2, 0, 0xF0, 0x20), END}), 0, false, 0},
};

TEST(Apertures, DescriptorListsReadToTheirBound) {
  for (const ListRow &Row : LIST_ROWS) {
    // Bytes after the bound are poison: a reader that looks past it finds a valid list there.
    std::vector<uint8_t> Held = Row.List;
    const size_t Bound = Row.Bound == 0 ? Row.List.size() : Row.Bound;
    Held.resize(Bound);
    const std::vector<uint8_t> Poison = Join({MEM32, END});
    Held.insert(Held.end(), Poison.begin(), Poison.end());
    auto Facts = std::make_unique<FirmwareFacts>();
    ClearFirmwareFacts(*Facts);
    const RootBridgeFacts *Bridge = AddRootBridgeDescriptors(*Facts, 0, Held.data(), Bound);
    ASSERT_NE(Bridge, nullptr) << Row.Case;
    EXPECT_EQ(Bridge->Known, Row.Known) << Row.Case;
    EXPECT_EQ(Bridge->AllocatedCount, Row.Allocated) << Row.Case;
  }
}

TEST(Apertures, DescriptorFields) {
  const std::vector<uint8_t> List = Join({BUS, MEM32, MEM64, END});
  auto Facts = std::make_unique<FirmwareFacts>();
  ClearFirmwareFacts(*Facts);
  const RootBridgeFacts &Bridge = *AddRootBridgeDescriptors(*Facts, 1, List.data(), List.size());
  EXPECT_EQ(Bridge.BusLast, 1);
  EXPECT_EQ(Bridge.Allocated[0].Range.Limit, 0xC10FFFFFU);
  EXPECT_FALSE(Bridge.Allocated[0].Mem64);
  EXPECT_TRUE(Bridge.Allocated[1].Mem64);
}

// Facts read from "@" lines; fails the test on a line that does not parse.
std::unique_ptr<FirmwareFacts> Read(const std::vector<std::string> &Lines) {
  auto Facts = std::make_unique<FirmwareFacts>();
  FactsReader Reader = StartFactsReader(*Facts);
  for (const std::string &Line : Lines) {
    EXPECT_EQ(ReadFactsLine(Reader, Line.data(), Line.size()), FactsLineKind::Fact) << Line;
  }
  return Facts;
}

TEST(Apertures, FactsLinesWrittenAsRead) {
  const std::vector<std::string> Lines = {
      "@root-bridge 0000 00-7f",
      "@allocated 00000000c0000000-00000000c10fffff mem32",
      "@allocated 000000e000000000-000000e00fffffff mem64 prefetchable",
      "@root-bridge 10000 80-ff unknown",
      "@memory-space-map",
      "@mmio 00000000c0000000-00000000c10fffff allocated",
      "@mmio 00000000c1100000-00000000fbffffff free"};
  const auto Facts = Read(Lines);
  std::vector<std::string> Written;
  WriteFactsLines(
      *Facts,
      [](void *Context, const char *Line) {
        static_cast<std::vector<std::string> *>(Context)->push_back(Line);
      },
      &Written);
  EXPECT_EQ(Written, Lines);
}

// Lines the reader refuses, after the lines before them were taken.
struct RefusedRow {
  const char *Case;
  std::vector<std::string> Before;
  std::string Line;
};

const std::vector<RefusedRow> REFUSED_ROWS = {
    {"upper-case hex", {}, "@root-bridge 000A 00-ff"},
    {"segment of three digits", {}, "@root-bridge 000 00-ff"},
    {"bus range the wrong way round", {}, "@root-bridge 0000 ff-00"},
    {"a word after unknown", {}, "@root-bridge 0000 00-ff unknown x"},
    {"two spaces", {}, "@root-bridge  0000 00-ff"},
    {"address of 15 digits",
     {"@root-bridge 0000 00-ff"},
     "@allocated 00000000c000000-00000000c0ffffff mem32"},
    {"limit below base",
     {"@root-bridge 0000 00-ff"},
     "@allocated 00000000c0ffffff-00000000c0000000 mem32"},
    {"width not said", {"@root-bridge 0000 00-ff"}, "@allocated 00000000c0000000-00000000c0ffffff"},
    {"allocated range of an unknown bridge",
     {"@root-bridge 0000 00-ff unknown"},
     "@allocated 00000000c0000000-00000000c0ffffff mem32"},
    {"allocated range after the map",
     {"@root-bridge 0000 00-ff", "@memory-space-map"},
     "@allocated 00000000c0000000-00000000c0ffffff mem32"},
    {"entry without a map", {}, "@mmio 00000000c0000000-00000000c0ffffff free"},
    {"entry of an absent map",
     {"@memory-space-map absent"},
     "@mmio 00000000c0000000-00000000c0ffffff free"},
    {"second map", {"@memory-space-map"}, "@memory-space-map"},
    {"root bridge after the map", {"@memory-space-map"}, "@root-bridge 0000 00-ff"},
    {"entry state not said", {"@memory-space-map"}, "@mmio 00000000c0000000-00000000c0ffffff"},
    {"unknown keyword", {}, "@bridge 0000 00-ff"},
    {"report version 2", {}, "@rbar-survey-report 2"},
};

TEST(Apertures, FactsLinesRefused) {
  for (const RefusedRow &Row : REFUSED_ROWS) {
    auto Facts = std::make_unique<FirmwareFacts>();
    FactsReader Reader = StartFactsReader(*Facts);
    for (const std::string &Line : Row.Before) {
      ASSERT_EQ(ReadFactsLine(Reader, Line.data(), Line.size()), FactsLineKind::Fact) << Row.Case;
    }
    EXPECT_EQ(ReadFactsLine(Reader, Row.Line.data(), Row.Line.size()), FactsLineKind::Malformed)
        << Row.Case;
  }
}

// A piece that does not fit is left out whole: a number is never cut, and nothing follows it.
TEST(Apertures, TextCutBetweenPieces) {
  char Text[12];
  TextBuffer Out = MakeTextBuffer(Text, sizeof Text);
  AppendText(Out, "BAR ");
  AppendDecimal(Out, 1234567);
  AppendDecimal(Out, 89);
  AppendText(Out, "x");
  EXPECT_STREQ(Text, "BAR 1234567");
  EXPECT_TRUE(Out.Cut);
  Out = MakeTextBuffer(Text, sizeof Text);
  AppendByteSize(Out, 65248 * MB);
  AppendText(Out, " free");
  EXPECT_STREQ(Text, "65248 MB");
}

struct AnswerRow {
  const char *Case;
  std::vector<std::string> Lines;
  uint8_t RootBus;
  uint64_t Size;
  uint64_t Current;
  ApertureAnswer Expected;
};

const std::vector<AnswerRow> ANSWER_ROWS = {
    {"the only bridge owns a run holding none of its ranges",
     {"@root-bridge 0000 00-ff", "@memory-space-map",
      "@mmio 000000e000000000-000000ffffffffff free"},
     0,
     32 * GB,
     0,
     ApertureAnswer::Holds},
    {"the BAR's own range counts free",
     {"@root-bridge 0000 00-ff", "@allocated 0000004000000000-000000403fffffff mem64",
      "@memory-space-map", "@mmio 0000004000000000-000000403fffffff allocated",
      "@mmio 0000004040000000-00000047ffffffff free"},
     0,
     32 * GB,
     0x4000000000,
     ApertureAnswer::Holds},
    {"the same without the BAR there",
     {"@root-bridge 0000 00-ff", "@allocated 0000004000000000-000000403fffffff mem64",
      "@memory-space-map", "@mmio 0000004000000000-000000403fffffff allocated",
      "@mmio 0000004040000000-00000047ffffffff free"},
     0,
     32 * GB,
     0,
     ApertureAnswer::TooSmall},
    {"free space split by another allocation",
     {"@root-bridge 0000 00-ff", "@allocated 0000004200000000-00000042ffffffff mem64",
      "@memory-space-map", "@mmio 0000004000000000-00000041ffffffff free",
      "@mmio 0000004200000000-00000042ffffffff allocated",
      "@mmio 0000004300000000-00000047ffffffff free"},
     0,
     32 * GB,
     0,
     ApertureAnswer::TooSmall},
    {"two bridges: a run holding neither's ranges is not said",
     {"@root-bridge 0000 00-7f", "@allocated 00000000c0000000-00000000c0ffffff mem32",
      "@root-bridge 0000 80-ff", "@memory-space-map",
      "@mmio 00000000c0000000-00000000c0ffffff allocated",
      "@mmio 000000e000000000-000000ffffffffff free"},
     0,
     32 * GB,
     0,
     ApertureAnswer::OwnerNotSaid},
    {"the other bridge's 64-bit run is not this one's",
     {"@root-bridge 0000 00-7f", "@allocated 00000000c0000000-00000000c0ffffff mem32",
      "@root-bridge 0000 80-ff", "@allocated 000000e000000000-000000e00fffffff mem64",
      "@memory-space-map", "@mmio 00000000c0000000-00000000cfffffff allocated",
      "@mmio 000000e000000000-000000e00fffffff allocated",
      "@mmio 000000e010000000-000000ffffffffff free"},
     0,
     32 * GB,
     0,
     ApertureAnswer::NoWindowAbove4G},
    {"nothing above 4 GB",
     {"@root-bridge 0000 00-ff", "@memory-space-map",
      "@mmio 00000000c0000000-00000000fbffffff free"},
     0,
     8 * GB,
     0,
     ApertureAnswer::NoWindowAbove4G},
    {"ranges given above 4 GB that the map leaves out: never \"no window above 4 GB\"",
     {"@root-bridge 0000 00-ff", "@allocated 0000008000000000-0000008fffffffff mem64",
      "@memory-space-map", "@mmio 00000000c0000000-00000000fbffffff free"},
     0,
     8 * GB,
     0,
     ApertureAnswer::OutsideMap},
    {"no map (U-Boot)",
     {"@root-bridge 0000 00-ff", "@memory-space-map absent"},
     0,
     8 * GB,
     0,
     ApertureAnswer::MapAbsent},
    {"overlapping entries",
     {"@root-bridge 0000 00-ff", "@memory-space-map",
      "@mmio 000000e000000000-000000ffffffffff free",
      "@mmio 000000f000000000-000000f0ffffffff free"},
     0,
     8 * GB,
     0,
     ApertureAnswer::MapUnknown},
    {"a bus no root bridge holds",
     {"@root-bridge 0000 00-0f", "@memory-space-map"},
     0x20,
     8 * GB,
     0,
     ApertureAnswer::NotGiven},
};

TEST(Apertures, AnswersForARootBus) {
  for (const AnswerRow &Row : ANSWER_ROWS) {
    const auto Facts = Read(Row.Lines);
    auto Model = std::make_unique<ApertureModel>();
    BuildApertures(*Facts, *Model);
    const AddressRange Current =
        Row.Current == 0 ? AddressRange{1, 0} : AddressRange{Row.Current, Row.Current + GB - 1};
    const ApertureVerdict Verdict =
        JudgeAperture(*Facts, *Model, {0, Row.RootBus, Row.Size, true, Current});
    EXPECT_STREQ(ApertureAnswerToken(Verdict.Answer), ApertureAnswerToken(Row.Expected))
        << Row.Case;
  }
}

} // namespace
