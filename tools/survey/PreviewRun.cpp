// The preview run: the hosted platform gets a root bridge per domain over the functions read,
// the driver's entry point runs on it, and the console writes, the read log and the driver's
// own capability walks tell what was found.
#include "tools/survey/PreviewRun.h"

#include <algorithm>

#include "driver/CapabilityWalk.h"
#include "driver/DriverGlobals.h"
#include "host/HostPlatform.h"

namespace {

// Bus range of a root bridge's bus-number descriptor: the scan always starts at bus 0.
constexpr uint64_t FIRST_BUS = 0;

// Reads the scan makes of a bus with nothing on it (32 devices x 8 functions x 2 ID reads), and
// more than it makes of any function present; they size the read log.
constexpr size_t READS_PER_EMPTY_BUS = 512;
constexpr size_t READS_PER_FUNCTION = 256;

// The console's line end, shown as a plain line feed.
constexpr std::u16string_view CONSOLE_LINE_END = u"\r\n";
// Printable ASCII; anything else is shown as a "\uXXXX" escape.
constexpr char16_t FIRST_PRINTABLE = 0x20;
constexpr char16_t LAST_PRINTABLE = 0x7E;
constexpr int ESCAPE_DIGITS = 4;
constexpr int BITS_PER_HEX_DIGIT = 4;
constexpr char16_t HEX_DIGIT_MASK = 0xF;

// A console string as narrow text.
std::string NarrowConsoleText(std::u16string_view Text) {
  static constexpr char HexDigits[] = "0123456789abcdef";
  std::string Narrow;
  while (!Text.empty()) {
    if (Text.substr(0, CONSOLE_LINE_END.size()) == CONSOLE_LINE_END) {
      Narrow.push_back('\n');
      Text.remove_prefix(CONSOLE_LINE_END.size());
      continue;
    }
    const char16_t Character = Text.front();
    Text.remove_prefix(1);
    if (Character >= FIRST_PRINTABLE && Character <= LAST_PRINTABLE) {
      Narrow.push_back(static_cast<char>(Character));
      continue;
    }
    Narrow += "\\u";
    for (int Digit = ESCAPE_DIGITS - 1; Digit >= 0; --Digit) {
      Narrow.push_back(HexDigits[(Character >> (Digit * BITS_PER_HEX_DIGIT)) & HEX_DIGIT_MASK]);
    }
  }
  return Narrow;
}

// The function a configuration read on a bridge of Segment went to.
FunctionKey KeyOfRead(uint32_t Segment, uint64_t Address) {
  const DecodedPciAddress Decoded = DecodePciAddress(Address);
  return {Segment, static_cast<uint8_t>(Decoded.Bus), static_cast<uint8_t>(Decoded.Device),
          static_cast<uint8_t>(Decoded.Function)};
}

// Moves the functions of one domain out of Image into a configuration image (the bytes are
// held once, by the root bridge, during the run), and finds the highest bus among them.
ConfigImage TakeDomainImage(PreviewImage &Image, uint32_t Domain, uint8_t &MaxBus) {
  ConfigImage Functions;
  MaxBus = 0;
  for (PreviewFunction &Function : Image) {
    if (Function.Domain == Domain) {
      MaxBus = std::max(MaxBus, Function.Config.Bus);
      Functions.push_back(std::move(Function.Config));
    }
  }
  return Functions;
}

// Moves the functions a root bridge served back into Image, where TakeDomainImage left them.
void ReturnDomainImage(HostRootBridge &Bridge, PreviewImage &Image) {
  const uint32_t Domain = Bridge.Shell.Protocol.SegmentNumber;
  for (auto &Served : Bridge.Functions) {
    ConfigFunction &Function = Served.second;
    const FunctionKey Wanted{Domain, Function.Bus, Function.Device, Function.Function};
    const auto Found = std::lower_bound(
        Image.begin(), Image.end(), Wanted,
        [](const PreviewFunction &Entry, const FunctionKey &Key) { return KeyOf(Entry) < Key; });
    Found->Config = std::move(Function);
  }
}

// Asks the driver's own capability walks about each function of Bridge. Their reads come after
// the run and are not counted as the driver's.
void LearnCapabilities(HostRootBridge &Bridge, uint32_t Segment,
                       std::map<FunctionKey, FunctionFacts> &Facts) {
  ActiveRootBridgeIo = &Bridge.Shell.Protocol;
  for (const auto &[Key, Function] : Bridge.Functions) {
    const PciConfigAddress Base = PciFunctionBase(Function.Bus, Function.Device, Function.Function);
    FunctionFacts &Known = Facts[{Segment, Function.Bus, Function.Device, Function.Function}];
    Known.Express = HasPciExpressCapability(Base);
    Known.Rebar = Known.Express && FindRebarCapability(Base) != 0;
  }
}

} // namespace

PreviewRun RunPreview(PreviewImage &Image) {
  PreviewRun Run;
  HostPlatform Platform;

  // Image is sorted, so its domains come in ascending order.
  std::vector<uint32_t> Domains;
  for (const PreviewFunction &Function : Image) {
    if (Domains.empty() || Domains.back() != Function.Domain) {
      Domains.push_back(Function.Domain);
    }
    Run.Facts[KeyOf(Function)] = FunctionFacts{};
  }
  for (const uint32_t Domain : Domains) {
    uint8_t MaxBus = 0;
    ConfigImage Functions = TakeDomainImage(Image, Domain, MaxBus);
    const size_t Present = Functions.size();
    HostRootBridge &Bridge =
        Platform.AddRootBridge(std::move(Functions), BusDescriptor(FIRST_BUS, MaxBus), Domain);
    // Room for the read log up front: reserved pages cost nothing until written, while a log
    // that grows holds its old and its new copy at once.
    Bridge.Reads.reserve((MaxBus + 1) * READS_PER_EMPTY_BUS + Present * READS_PER_FUNCTION);
  }
  Run.RootBridges = Domains.size();

  Run.EntryStatus = Platform.RunDriverEntry();
  Run.DriverReads = Platform.TotalPciReads();
  Run.Violations = Platform.Check();

  for (size_t Index = 0; Index < Platform.ConsoleWrites.size(); ++Index) {
    ConsoleWrite Write{NarrowConsoleText(Platform.ConsoleWrites[Index]), std::nullopt};
    const std::optional<HostPlatform::ReadOrigin> &Origin = Platform.ConsoleWriteOrigins[Index];
    if (Origin) {
      Write.Origin = KeyOfRead(Origin->Segment, Origin->Address);
    }
    Run.Writes.push_back(std::move(Write));
  }

  for (const std::unique_ptr<HostRootBridge> &Bridge : Platform.Bridges) {
    const uint32_t Segment = Bridge->Shell.Protocol.SegmentNumber;
    for (const PciReadRecord &Read : Bridge->Reads) {
      const auto Found = Run.Facts.find(KeyOfRead(Segment, Read.Address));
      if (Found != Run.Facts.end()) {
        Found->second.Scanned = true;
      }
    }
  }
  for (const std::unique_ptr<HostRootBridge> &Bridge : Platform.Bridges) {
    LearnCapabilities(*Bridge, Bridge->Shell.Protocol.SegmentNumber, Run.Facts);
    ReturnDomainImage(*Bridge, Image);
  }
  return Run;
}
