// Fuzz target of the lspci dump parser: the input is the text of a dump file, read as
// rbar-survey reads one. Checked on every input:
// - a refused text gets one message "fuzz.dump:LINE: what is wrong" on one line, LINE one of
//   the text's lines;
// - the same text with CR LF line ends (when it holds no CR of its own) is accepted or refused
//   alike, with the same image or the same message;
// - an accepted text yields a well-formed image: each function holds 64, 256 or 4096 bytes, a
//   device of at most 31 and a function of at most 7, no address twice, no more functions than
//   the text has lines; printed back as a plain `lspci -xxxx` dump, it parses to the same image;
// - the driver runs over an accepted image of few buses as rbar-survey runs it (one root bridge
//   per domain): DriverEntry returns success, the platform saw no misuse, every pool buffer was
//   given back, and every console write is one report line, each BAR line agreeing with the
//   sizes line before it. Buses are renumbered from 0 in their order, so that the scan stays
//   short; the driver scans every bus in the range alike, so this changes nothing it can see.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "host/ConfigImage.h"
#include "host/HostPlatform.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/host/ReportLines.h"

namespace {

// What messages call the text.
const char *const DUMP_NAME = "fuzz.dump";
// Images on more buses than this are parsed and checked but not run through the driver: every
// bus scanned costs 512 reads even when empty.
constexpr size_t DRIVER_RUN_MAX_BUSES = 4;
constexpr size_t HEX_LINE_BYTES = 16;
// Offsets from here on are printed with three hex digits.
constexpr size_t THREE_DIGIT_OFFSET = 0x100;
constexpr size_t SIZE_HEADER = 64;
constexpr size_t SIZE_CONVENTIONAL = 256;
constexpr size_t SIZE_EXTENDED = 4096;
constexpr uint8_t MAX_DEVICE = 31;
constexpr uint8_t MAX_FUNCTION = 7;
constexpr size_t DECIMAL_BASE = 10;

using Address = std::tuple<uint32_t, uint8_t, uint8_t, uint8_t>;

// The lines of Text as the parser counts them: the last one need not end in a line feed.
size_t LineCount(const std::string &Text) {
  const size_t Feeds = static_cast<size_t>(std::count(Text.begin(), Text.end(), '\n'));
  return Feeds + (!Text.empty() && Text.back() != '\n' ? 1 : 0);
}

void CheckRefusal(const std::string &Text, const std::string &Error) {
  const std::string Prefix = std::string(DUMP_NAME) + ":";
  Require(Error.compare(0, Prefix.size(), Prefix) == 0, "error without the file name: " + Error);
  size_t At = Prefix.size();
  size_t Line = 0;
  while (At < Error.size() && Error[At] >= '0' && Error[At] <= '9' && Line <= Text.size()) {
    Line = Line * DECIMAL_BASE + static_cast<size_t>(Error[At++] - '0');
  }
  Require(At > Prefix.size() && Error.compare(At, 2, ": ") == 0 && Error.size() > At + 2,
          "error without \"LINE: what\": " + Error);
  Require(Line >= 1 && Line <= LineCount(Text),
          Mismatch("error line beyond the text", Line, LineCount(Text)));
  Require(Error.find('\n') == std::string::npos, "error of more than one line: " + Error);
}

bool SameImage(const ConfigImage &A, const ConfigImage &B) {
  return std::equal(
      A.begin(), A.end(), B.begin(), B.end(),
      [](const ConfigFunction &Left, const ConfigFunction &Right) {
        return std::tie(Left.Segment, Left.Bus, Left.Device, Left.Function, Left.Bytes) ==
               std::tie(Right.Segment, Right.Bus, Right.Device, Right.Function, Right.Bytes);
      });
}

// Image as `lspci -xxxx` prints it, without decoded lines.
std::string PlainDump(const ConfigImage &Image) {
  std::string Text;
  char Line[64];
  for (const ConfigFunction &Function : Image) {
    if (Function.Segment != 0) {
      std::snprintf(Line, sizeof Line, "%04x:", Function.Segment);
      Text += Line;
    }
    std::snprintf(Line, sizeof Line, "%02x:%02x.%u function\n", Function.Bus, Function.Device,
                  Function.Function);
    Text += Line;
    for (size_t Offset = 0; Offset < Function.Bytes.size(); Offset += HEX_LINE_BYTES) {
      std::snprintf(Line, sizeof Line, Offset < THREE_DIGIT_OFFSET ? "%02zx:" : "%03zx:", Offset);
      Text += Line;
      for (size_t Index = 0; Index < HEX_LINE_BYTES; ++Index) {
        std::snprintf(Line, sizeof Line, " %02x", Function.Bytes[Offset + Index]);
        Text += Line;
      }
      Text += "\n";
    }
    Text += "\n";
  }
  return Text;
}

void CheckImage(const std::string &Text, const ConfigImage &Image) {
  std::set<Address> Seen;
  for (const ConfigFunction &Function : Image) {
    const size_t Size = Function.Bytes.size();
    Require(Size == SIZE_HEADER || Size == SIZE_CONVENTIONAL || Size == SIZE_EXTENDED,
            Mismatch("a function of an odd size", Size, SIZE_EXTENDED));
    Require(Function.Device <= MAX_DEVICE && Function.Function <= MAX_FUNCTION,
            "a function address out of range");
    Require(
        Seen.insert({Function.Segment, Function.Bus, Function.Device, Function.Function}).second,
        "a function address twice");
  }
  Require(Image.size() <= LineCount(Text),
          Mismatch("more functions than lines", Image.size(), LineCount(Text)));
  ConfigImage Again;
  std::string Error;
  Require(ParseConfigDump(PlainDump(Image), DUMP_NAME, Again, Error),
          "the image printed back is refused: " + Error);
  Require(SameImage(Image, Again), "the image printed back parses to another image");
}

// Runs the driver over Image with its buses renumbered, when they are few.
void CheckDriverRun(const ConfigImage &Image) {
  std::map<uint32_t, std::map<uint8_t, uint8_t>> Buses;
  size_t BusCount = 0;
  for (const ConfigFunction &Function : Image) {
    BusCount += Buses[Function.Segment].emplace(Function.Bus, 0).second ? 1 : 0;
  }
  if (BusCount > DRIVER_RUN_MAX_BUSES) {
    return;
  }
  HostPlatform Platform;
  for (auto &[Segment, Numbers] : Buses) {
    uint8_t Next = 0;
    for (auto &[Bus, Renumbered] : Numbers) {
      Renumbered = Next++;
    }
    ConfigImage Domain;
    for (const ConfigFunction &Function : Image) {
      if (Function.Segment == Segment) {
        Domain.push_back(Function);
        Domain.back().Bus = Numbers[Function.Bus];
      }
    }
    Platform.AddRootBridge(Domain, BusDescriptor(0, Next - 1U), Segment);
  }
  const EFI_STATUS Status = Platform.RunDriverEntry();
  Require(Status == EFI_SUCCESS, Mismatch("DriverEntry status", Status, EFI_SUCCESS));
  for (const std::string &Violation : Platform.Check()) {
    Require(false, "platform: " + Violation);
  }
  Require(Platform.OutstandingPoolBuffers() == 0,
          Mismatch("pool buffers outstanding", Platform.OutstandingPoolBuffers(), 0));
  std::optional<SizesLine> Pending;
  for (const std::u16string &Write : Platform.ConsoleWrites) {
    const std::optional<ReportLine> Line = ParseReportLine(Write);
    Require(Line.has_value(), "a console write that is not a report line");
    const std::string Impossible = ImpossibleValues(*Line);
    Require(Impossible.empty(), Impossible);
    if (Line->Sizes) {
      Pending = Line->Sizes;
      continue;
    }
    Require(Pending.has_value(), "a BAR line without its sizes line");
    const std::string Mismatched = BarLineMismatch(*Pending, *Line->Bar);
    Require(Mismatched.empty(), Mismatched);
    Pending.reset();
  }
}

// Text with every line feed made CR LF.
std::string WithCrLf(const std::string &Text) {
  std::string Converted;
  for (const char C : Text) {
    if (C == '\n') {
      Converted += '\r';
    }
    Converted += C;
  }
  return Converted;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char *>(Data), Size);
  ConfigImage Image;
  std::string Error;
  const bool Accepted = ParseConfigDump(Text, DUMP_NAME, Image, Error);
  if (Text.find('\r') == std::string::npos) {
    ConfigImage CrLfImage;
    std::string CrLfError;
    const bool CrLfAccepted = ParseConfigDump(WithCrLf(Text), DUMP_NAME, CrLfImage, CrLfError);
    Require(CrLfAccepted == Accepted, "CR LF line ends change whether the text is accepted");
    Require(Accepted ? SameImage(Image, CrLfImage) : CrLfError == Error,
            "CR LF line ends change the result: " + Error + " / " + CrLfError);
  }
  if (!Accepted) {
    CheckRefusal(Text, Error);
    return 0;
  }
  CheckImage(Text, Image);
  CheckDriverRun(Image);
  return 0;
}
