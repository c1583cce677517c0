// The explanation's pieces on hand-made inputs: the verdict rules and their order, the window
// arithmetic at its edges, BAR register decoding and /proc/iomem parsing.
#include <gtest/gtest.h>

#include "tools/explain/EngineViews.h"
#include "tools/source/IomemWindows.h"

namespace {

constexpr uint64_t KB = 1ULL << 10;
constexpr uint64_t MB = 1ULL << 20;
constexpr uint64_t GB = 1ULL << 30;

BridgeWindow Window(uint64_t Base, uint64_t Limit, bool Decodes64) {
  return {true, Decodes64, Base <= Limit, Base, Limit};
}

const BridgeWindow DISABLED = {true, true, false, 0xFFF00000, 0xFFFFF};

struct VerdictRow {
  const char *Case;
  BarKind Kind;
  uint64_t Address;
  uint64_t Size;
  std::vector<BridgeWindow> Path;
  // Root bus ranges from /proc/iomem, when known.
  bool RootKnown;
  std::vector<BusWindow> Root;
  VerdictKind Expected;
  size_t Bridge;
  ApertureKnowledge Aperture;
};

const std::vector<VerdictRow> VERDICT_ROWS = {
    {"an I/O BAR is not explained",
     BarKind::Io,
     0,
     1 * GB,
     {},
     false,
     {},
     VerdictKind::UnknownBar,
     0,
     ApertureKnowledge::Unknown},
    {"a 32-bit BAR cannot take 4 GB",
     BarKind::Memory32,
     0xC0000000,
     4 * GB,
     {Window(0x4000000000, 0x47FFFFFFFF, true)},
     false,
     {},
     VerdictKind::Bar32Bit,
     0,
     ApertureKnowledge::Unknown},
    {"a 32-bit BAR can take 2 GB",
     BarKind::Memory32,
     0x80000000,
     2 * GB,
     {Window(0x80000000, 0xFFFFFFFF, false)},
     false,
     {},
     VerdictKind::Fits,
     0,
     ApertureKnowledge::Unknown},
    {"4 GB needs 64-bit windows",
     BarKind::Memory64,
     0x4000000000,
     4 * GB,
     {Window(0x4000000000, 0x47FFFFFFFF, true), Window(0xC0000000, 0xDFFFFFFF, false)},
     false,
     {},
     VerdictKind::Window32Bit,
     1,
     ApertureKnowledge::Unknown},
    {"placed low, windows too small",
     BarKind::Memory64,
     0xC0000000,
     8 * GB,
     {Window(0xC0000000, 0xD1FFFFFF, true)},
     false,
     {},
     VerdictKind::PlacedBelow4G,
     0,
     ApertureKnowledge::Unknown},
    {"placed low, windows already above",
     BarKind::Memory64,
     0xC0000000,
     8 * GB,
     {Window(0x4000000000, 0x43FFFFFFFF, true)},
     false,
     {},
     VerdictKind::Fits,
     0,
     ApertureKnowledge::Unknown},
    {"outermost too small window named",
     BarKind::Memory64,
     0x7800000000,
     8 * GB,
     {Window(0x7800000000, 0x78BFFFFFFF, true), Window(0x78A0000000, 0x78BFFFFFFF, true)},
     false,
     {},
     VerdictKind::WindowTooSmall,
     0,
     ApertureKnowledge::Unknown},
    {"inner window too small",
     BarKind::Memory64,
     0x78B0000000,
     1 * GB,
     {Window(0x7800000000, 0x78BFFFFFFF, true), Window(0x78A0000000, 0x78BFFFFFFF, true)},
     false,
     {},
     VerdictKind::WindowTooSmall,
     1,
     ApertureKnowledge::Unknown},
    {"large enough but holding no aligned block",
     BarKind::Memory64,
     0x7840000000,
     8 * GB,
     {Window(0x7840000000, 0x7A3FFFFFFF, true)},
     false,
     {},
     VerdictKind::WindowTooSmall,
     0,
     ApertureKnowledge::Unknown},
    {"a disabled window holds nothing",
     BarKind::Memory64,
     0xD0000000,
     1 * GB,
     {DISABLED},
     false,
     {},
     VerdictKind::WindowTooSmall,
     0,
     ApertureKnowledge::Unknown},
    {"root bus of a dump",
     BarKind::Memory64,
     0x38BFE0000000,
     8 * MB,
     {},
     false,
     {},
     VerdictKind::RootBus,
     0,
     ApertureKnowledge::Unknown},
    {"root bus, a range holds it",
     BarKind::Memory64,
     0x38BFE0000000,
     16 * GB,
     {},
     true,
     {{0, 3, 0x380000000000, 0x38FFFFFFFFFF}},
     VerdictKind::RootBus,
     0,
     ApertureKnowledge::Holds},
    {"root bus, no range holds it",
     BarKind::Memory64,
     0x38BFE0000000,
     16 * GB,
     {},
     true,
     {{0, 3, 0xC0000000, 0xFEFFFFFF}, {0, 3, 0x380000000000, 0x3801FFFFFFFF}},
     VerdictKind::RootBus,
     0,
     ApertureKnowledge::TooSmall},
    {"root bus, placed low, aperture unknown",
     BarKind::Memory64,
     0xF0000000,
     16 * GB,
     {},
     false,
     {},
     VerdictKind::PlacedBelow4G,
     0,
     ApertureKnowledge::Unknown},
    {"root bus, placed low, a range above holds it",
     BarKind::Memory64,
     0xF0000000,
     16 * GB,
     {},
     true,
     {{0, 0, 0x4000000000, 0x7FFFFFFFFF}},
     VerdictKind::RootBus,
     0,
     ApertureKnowledge::Holds},
};

TEST(ExplainVerdict, RulesInOrder) {
  for (const VerdictRow &Row : VERDICT_ROWS) {
    ProposalFacts Facts;
    Facts.Placement.Kind = Row.Kind;
    Facts.Placement.Address = Row.Address;
    Facts.Size = Row.Size;
    for (const BridgeWindow &Step : Row.Path) {
      Facts.Path.Steps[Facts.Path.Count++].Window = Step;
    }
    Facts.RootWindowsKnown = Row.RootKnown;
    for (const BusWindow &Root : Row.Root) {
      Facts.RootWindows[Facts.RootWindowCount++] = {Root.Start, Root.End};
    }
    const Verdict Judged = JudgeProposal(Facts);
    EXPECT_EQ(VerdictToken(Judged.Kind), std::string(VerdictToken(Row.Expected))) << Row.Case;
    EXPECT_EQ(Judged.Bridge, Row.Bridge) << Row.Case;
    EXPECT_EQ(ApertureToken(Judged.Aperture), std::string(ApertureToken(Row.Aperture))) << Row.Case;
  }
}

TEST(ExplainVerdict, AlignedBlocksAtTheEdgesOfTheAddressSpace) {
  const uint64_t Top = UINT64_MAX;
  EXPECT_TRUE(WindowHoldsAligned(Window(0, Top, true), 512 * GB));
  EXPECT_TRUE(WindowHoldsAligned(Window(Top - 8 * GB + 1, Top, true), 8 * GB));
  EXPECT_FALSE(WindowHoldsAligned(Window(Top - 8 * GB + 2, Top, true), 8 * GB));
  EXPECT_FALSE(WindowHoldsAligned(Window(Top - MB + 1, Top, true), 8 * GB));
  EXPECT_EQ(WindowSize(Window(0, Top, true)), Top);
  EXPECT_EQ(WindowSize(DISABLED), 0U);
}

TEST(ExplainVerdict, SizesInWords) {
  EXPECT_EQ(ByteSizeText(16 * KB), "16 KB");
  EXPECT_EQ(ByteSizeText(2050 * MB), "2050 MB");
  EXPECT_EQ(ByteSizeText(3 * GB), "3 GB");
  EXPECT_EQ(ByteSizeText(1000), "1000 bytes");
  EXPECT_EQ(ByteSizeText(UINT64_MAX), "16 EB");
}

// A type 0 (or, with Bridge, type 1) header whose BAR registers hold Registers.
ConfigFunction Header(const std::vector<uint32_t> &Registers, bool Bridge = false) {
  ConfigFunction Function;
  Function.Bytes.assign(64, 0);
  Function.Bytes[0x0E] = Bridge ? 1 : 0;
  for (size_t Index = 0; Index < Registers.size(); ++Index) {
    for (size_t Byte = 0; Byte < 4; ++Byte) {
      Function.Bytes[0x10 + 4 * Index + Byte] =
          static_cast<uint8_t>(Registers[Index] >> (8 * Byte));
    }
  }
  return Function;
}

TEST(ExplainVerdict, BarRegisters) {
  // BAR 0 32-bit, BARs 1-2 one 64-bit prefetchable BAR, BAR 3 I/O, BAR 4-5 a 64-bit BAR.
  const ConfigFunction Function =
      Header({0xF6000000, 0x0000000C, 0x00000040, 0x0000E001, 0xF7000004, 0x00000000});
  EXPECT_EQ(DecodeBar(Function, 0).Kind, BarKind::Memory32);
  const BarPlacement Wide = DecodeBar(Function, 1);
  EXPECT_EQ(Wide.Kind, BarKind::Memory64);
  EXPECT_TRUE(Wide.Prefetchable);
  EXPECT_EQ(Wide.Address, 0x4000000000U);
  EXPECT_EQ(DecodeBar(Function, 2).Kind, BarKind::UpperHalf);
  EXPECT_EQ(DecodeBar(Function, 3).Kind, BarKind::Io);
  EXPECT_EQ(DecodeBar(Function, 4).Address, 0xF7000000U);
  EXPECT_EQ(DecodeBar(Function, 5).Kind, BarKind::UpperHalf);
  // A 64-bit type in the last BAR has no upper half; a bridge has BARs 0 and 1 only.
  EXPECT_EQ(DecodeBar(Header({0, 0, 0, 0, 0, 0x0000000C}), 5).Kind, BarKind::NoSuchBar);
  EXPECT_EQ(DecodeBar(Header({0, 0, 0xE0000000}, true), 2).Kind, BarKind::NoSuchBar);
  EXPECT_EQ(DecodeBar(Header({0x00000006}), 0).Kind, BarKind::ReservedType);
}

TEST(ExplainVerdict, IomemBusRanges) {
  const std::string Text = "00000000-00000fff : Reserved\n"
                           "c0000000-febfffff : PCI Bus 0000:00\n"
                           "  c0000000-c01fffff : PCI Bus 0000:01\n"
                           "    c0000000-c000ffff : 0000:01:00.0\n"
                           "e0000000-efffffff : PCI ECAM 0000 [bus 00-ff]\n"
                           "  fec00000-fecfffff : PCI Bus 0000:00\n"
                           "4000000000-7fffffffff : PCI Bus 000a:3f\n"
                           "zz-10 : PCI Bus 0000:00\n"
                           "10-20 : PCI Bus 0000:0\n";
  const std::vector<BusWindow> Windows = ParseIomemBusWindows(Text);
  ASSERT_EQ(Windows.size(), 4U);
  EXPECT_EQ(Windows[0].Start, 0xC0000000U);
  EXPECT_EQ(Windows[0].End, 0xFEBFFFFFU);
  EXPECT_EQ(Windows[1].Bus, 1U);
  EXPECT_EQ(Windows[2].Start, 0xFEC00000U);
  EXPECT_EQ(Windows[3].Domain, 0xAU);
  EXPECT_EQ(Windows[3].Bus, 0x3FU);
  EXPECT_EQ(Windows[3].End, 0x7FFFFFFFFFU);
}

} // namespace
