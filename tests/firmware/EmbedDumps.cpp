// Build-time generator of a fixture image's data: turns dump files, one per root bridge, into a
// C++ source of constant arrays that defines the FixtureBridgeImages of FixtureImage.h.
//
//   EmbedDumps --output FILE.cpp [--legacy-bios]
//              { --bridge DUMP | --bridge-without-bus-range DUMP } ...
//
// Bridges are installed in the order given. A bridge's bus range is 0 to the highest bus its
// dump lists; the segment numbers in the dump are not used (the fixture gives every bridge a
// segment of its own). A bridge without a bus range reports memory and I/O windows only.
// A dump's firmware facts ("@" lines, as rbar-survey reads them) give its bridge's memory
// ranges (its "@allocated" lines) and the memory-space map the fixture publishes (the "@mmio"
// lines of every dump, in order). --legacy-bios makes the fixture install a Legacy BIOS
// protocol.
#include "host/ConfigImage.h"
#include "tests/firmware/FixtureImage.h"
#include "verdict/FactsLines.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Bytes per line of the generated arrays.
constexpr size_t BYTES_PER_LINE = 16;

struct BridgeSource {
  std::string Path;
  bool HasBusRange = true;
  ConfigImage Image;
  // The dump's "@" lines, read.
  FirmwareFacts Facts{};
};

// Reads Path's "@" lines into Source.Facts and the rest into Source.Image; false with Error.
bool LoadBridge(BridgeSource &Source, std::string &Error) {
  std::ifstream File(Source.Path, std::ios::binary);
  if (!File) {
    Error = Source.Path + ": cannot be read";
    return false;
  }
  std::string Dump;
  FactsReader Reader = StartFactsReader(Source.Facts);
  unsigned Number = 0;
  for (std::string Line; std::getline(File, Line);) {
    ++Number;
    const FactsLineKind Kind = ReadFactsLine(Reader, Line.data(), Line.size());
    if (Kind == FactsLineKind::Malformed) {
      Error = Source.Path + ":" + std::to_string(Number) + ": firmware fact not understood";
      return false;
    }
    // The dump parser is given blank lines in place of the facts, so that lines keep numbers.
    Dump += (Kind == FactsLineKind::NotFacts ? Line : std::string()) + "\n";
  }
  return ParseConfigDump(Dump, Source.Path, Source.Image, Error);
}

void Usage() {
  std::fprintf(stderr, "usage: EmbedDumps --output FILE.cpp [--legacy-bios] "
                       "{--bridge DUMP | --bridge-without-bus-range DUMP}...\n");
}

std::string Hex(unsigned Value, int Digits) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "0x%0*X", Digits, Value);
  return Text;
}

// Highest bus number among the image's functions; 0 for an empty image.
unsigned HighestBus(const ConfigImage &Image) {
  unsigned Highest = 0;
  for (const ConfigFunction &Function : Image) {
    if (Function.Bus > Highest) {
      Highest = Function.Bus;
    }
  }
  return Highest;
}

void EmitBytes(std::ostream &Out, const std::string &Name, const std::vector<uint8_t> &Bytes) {
  Out << "constexpr UINT8 " << Name << "[" << Bytes.size() << "] = {";
  for (size_t Index = 0; Index < Bytes.size(); ++Index) {
    Out << (Index % BYTES_PER_LINE == 0 ? "\n    " : " ") << Hex(Bytes[Index], 2) << ",";
  }
  Out << "\n};\n";
}

std::string Hex64(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%016llXULL", static_cast<unsigned long long>(Value));
  return Text;
}

// The memory ranges of Bridge's first root bridge fact, as the generated array's rows.
void EmitAllocated(std::ostream &Out, size_t Index, const BridgeSource &Bridge) {
  const RootBridgeFacts &Facts = Bridge.Facts.RootBridges[0];
  Out << "constexpr FixtureAllocated Bridge" << Index << "Allocated[] = {\n";
  for (size_t Range = 0; Range < Facts.AllocatedCount; ++Range) {
    const AllocatedRange &Allocated = Facts.Allocated[Range];
    Out << "    {" << Hex64(Allocated.Range.Base) << ", " << Hex64(Allocated.Range.Limit) << ", "
        << (Allocated.Mem64 ? 1 : 0) << ", " << (Allocated.Prefetchable ? 1 : 0) << "},\n";
  }
  Out << "};\n";
}

// True when Bridge's dump gives its memory ranges.
bool HasAllocated(const BridgeSource &Bridge) {
  return Bridge.Facts.RootBridgeCount > 0 && Bridge.Facts.RootBridges[0].AllocatedCount > 0;
}

// The firmware facts of every dump: the map's entries in order, and the Legacy BIOS switch.
void EmitFirmwareFacts(std::ostream &Out, const std::vector<BridgeSource> &Bridges,
                       bool LegacyBios) {
  std::vector<MmioEntry> Entries;
  bool HasMap = false;
  for (const BridgeSource &Bridge : Bridges) {
    HasMap = HasMap || Bridge.Facts.MemoryMap == MemoryMapState::Read;
    Entries.insert(Entries.end(), Bridge.Facts.Mmio, Bridge.Facts.Mmio + Bridge.Facts.MmioCount);
  }
  if (!Entries.empty()) {
    Out << "\nconstexpr FixtureMmio MmioEntries[] = {\n";
    for (const MmioEntry &Entry : Entries) {
      Out << "    {" << Hex64(Entry.Range.Base) << ", " << Hex64(Entry.Range.Limit) << ", "
          << (Entry.Allocated ? 1 : 0) << "},\n";
    }
    Out << "};\n";
  }
  Out << "\n} // namespace\n\n";
  Out << "extern const FixtureFirmwareFacts FixtureFacts = {" << (HasMap ? 1 : 0) << ", "
      << (Entries.empty() ? "nullptr" : "MmioEntries") << ", " << Entries.size() << ", "
      << (LegacyBios ? 1 : 0) << "};\n";
}

std::string Generate(const std::vector<BridgeSource> &Bridges, bool LegacyBios) {
  std::ostringstream Out;
  Out << "// Generated by EmbedDumps from:\n";
  for (const BridgeSource &Bridge : Bridges) {
    Out << "//   " << Bridge.Path << (Bridge.HasBusRange ? "" : " (no bus range)") << "\n";
  }
  Out << "#include \"tests/firmware/FixtureImage.h\"\n\nnamespace {\n\n";
  for (size_t B = 0; B < Bridges.size(); ++B) {
    const ConfigImage &Image = Bridges[B].Image;
    for (size_t F = 0; F < Image.size(); ++F) {
      EmitBytes(Out, "Bridge" + std::to_string(B) + "Function" + std::to_string(F), Image[F].Bytes);
    }
    if (HasAllocated(Bridges[B])) {
      EmitAllocated(Out, B, Bridges[B]);
    }
    if (Image.empty()) {
      continue;
    }
    Out << "\nconstexpr FixtureFunction Bridge" << B << "Functions[] = {\n";
    for (size_t F = 0; F < Image.size(); ++F) {
      const ConfigFunction &Function = Image[F];
      Out << "    {" << Hex(Function.Bus, 2) << ", " << Hex(Function.Device, 2) << ", "
          << unsigned(Function.Function) << ", " << Function.Bytes.size() << ", Bridge" << B
          << "Function" << F << "},\n";
    }
    Out << "};\n\n";
  }
  EmitFirmwareFacts(Out, Bridges, LegacyBios);
  Out << "extern const FixtureBridgeImage FixtureBridgeImages[] = {\n";
  for (size_t B = 0; B < Bridges.size(); ++B) {
    const BridgeSource &Bridge = Bridges[B];
    Out << "    {" << (Bridge.HasBusRange ? 1 : 0) << ", " << Hex(HighestBus(Bridge.Image), 2)
        << ", ";
    if (Bridge.Image.empty()) {
      Out << "nullptr, 0, ";
    } else {
      Out << "Bridge" << B << "Functions, " << Bridge.Image.size() << ", ";
    }
    if (HasAllocated(Bridge)) {
      Out << "1, Bridge" << B << "Allocated, " << Bridge.Facts.RootBridges[0].AllocatedCount
          << "},\n";
    } else {
      Out << "0, nullptr, 0},\n";
    }
  }
  Out << "};\n";
  Out << "extern const UINTN FixtureBridgeCount = " << Bridges.size() << ";\n";
  return Out.str();
}

} // namespace

int main(int Argc, char **Argv) {
  std::string Output;
  std::vector<BridgeSource> Bridges;
  bool LegacyBios = false;
  for (int Index = 1; Index < Argc; ++Index) {
    std::string Option = Argv[Index];
    if (Option == "--legacy-bios") {
      LegacyBios = true;
      continue;
    }
    if (Index + 1 >= Argc) {
      Usage();
      return 2;
    }
    std::string Value = Argv[++Index];
    if (Option == "--output") {
      Output = Value;
    } else if (Option == "--bridge" || Option == "--bridge-without-bus-range") {
      Bridges.push_back({Value, Option == "--bridge", {}, {}});
    } else {
      Usage();
      return 2;
    }
  }
  if (Output.empty() || Bridges.empty()) {
    Usage();
    return 2;
  }
  if (Bridges.size() > FIXTURE_MAX_BRIDGES) {
    std::fprintf(stderr, "EmbedDumps: %zu bridges, the fixture holds at most %llu\n",
                 Bridges.size(), static_cast<unsigned long long>(FIXTURE_MAX_BRIDGES));
    return 1;
  }
  for (BridgeSource &Bridge : Bridges) {
    std::string Error;
    if (!LoadBridge(Bridge, Error)) {
      std::fprintf(stderr, "EmbedDumps: %s\n", Error.c_str());
      return 1;
    }
  }
  std::ofstream Out(Output, std::ios::binary | std::ios::trunc);
  Out << Generate(Bridges, LegacyBios);
  Out.close();
  if (!Out) {
    std::fprintf(stderr, "EmbedDumps: cannot write %s\n", Output.c_str());
    return 1;
  }
  return 0;
}
