// Parser of the hexadecimal configuration dumps that `lspci -x`, `-xxx` and `-xxxx` print, alone
// or with the decoded lines of `-v`, `-vv`, `-vvv`, `-k` or `-nn`.
//
// The text is read strictly, line by line: a function header "[DDDD:]BB:DD.F description",
// then any number of decoded lines, each indented, then lines "OFF: xx xx ... xx" of
// 16 bytes each with offsets contiguous from 0, the offset printed as lspci prints it (two hex
// digits below 0x100, three from there on). The decoded lines say nothing the bytes do not, so
// they are skipped. lspci indents them with tabs; dumps copied from web pages and issue trackers
// often have the tabs turned into spaces, and lspci -F, which takes a line for a header or a hex
// line by its content, reads those too: a line indented with spaces is a decoded line as well.
// A function ends at a blank line, at the end of the text or where the dump runs out of hex
// lines, and must then hold 64, 256 or 4096 bytes. Lines may end in LF or CR LF. Anything else
// is an error that names the line, and a file is read no further than that line. Only the
// functions' bytes are kept, never the text.
#include "host/ConfigImage.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Lines that lspci skips and rbar-survey reads apart from the dump (tools/source/DumpFacts):
// the firmware's facts ("@root-bridge ...") and a report file's screen text ("# ...").
constexpr char FACTS_LINE_START = '@';
constexpr char SCREEN_LINE_START = '#';

// Bytes on one hex line.
constexpr size_t DUMP_BYTES_PER_LINE = 16;
// Function sizes lspci prints: the standard header (-x), the conventional configuration space
// (-xxx) and the extended configuration space (-xxxx).
constexpr size_t DUMP_SIZE_HEADER = 64;
constexpr size_t DUMP_SIZE_CONVENTIONAL = 256;
constexpr size_t DUMP_SIZE_EXTENDED = 4096;
// Offsets below this are printed with two hex digits, the others with three.
constexpr size_t DUMP_OFFSET_THREE_DIGITS = 0x100;
// Longest first word taken for a (possibly malformed) offset: four characters and the colon.
constexpr size_t DUMP_OFFSET_WORD_MAX = 5;
// Longest line read: far more than any header or decoded line lspci prints. A longer line is a
// fault, so that a file without line ends is never held whole.
constexpr size_t DUMP_LINE_MAX = 65536;
// Bytes read from a file at a time.
constexpr size_t DUMP_READ_CHUNK = 65536;

// Address fields of a function header.
constexpr size_t DOMAIN_MIN_DIGITS = 4;
constexpr size_t DOMAIN_MAX_DIGITS = 8;
constexpr size_t BUS_DIGITS = 2;
constexpr size_t DEVICE_DIGITS = 2;
constexpr uint32_t MAX_DEVICE = 31;
constexpr uint32_t MAX_FUNCTION = 7;

// First character of each line lspci decodes below a function's header (`-v` and the like),
// and what copying often turns it into.
constexpr char DECODED_LINE_START = '\t';
constexpr char DECODED_LINE_START_COPIED = ' ';

// Where a function was listed, to report a second listing of the same address.
using FunctionKey = std::tuple<uint32_t, uint8_t, uint8_t, uint8_t>;

// Value of one hex digit, or -1 for any other character.
int HexDigitValue(char C) {
  if (C >= '0' && C <= '9') {
    return C - '0';
  }
  if (C >= 'a' && C <= 'f') {
    return C - 'a' + 10;
  }
  if (C >= 'A' && C <= 'F') {
    return C - 'A' + 10;
  }
  return -1;
}

// The value of Text when it is one or more hex digits and nothing else.
std::optional<uint32_t> ParseHex(std::string_view Text) {
  if (Text.empty() || Text.size() > 8) {
    return std::nullopt;
  }
  uint32_t Value = 0;
  for (char C : Text) {
    int Digit = HexDigitValue(C);
    if (Digit < 0) {
      return std::nullopt;
    }
    Value = Value * 16 + static_cast<uint32_t>(Digit);
  }
  return Value;
}

// "BB:DD.F" as lspci prints an address, with the domain when it is not 0.
std::string FormatAddress(const ConfigFunction &Function) {
  char Text[32];
  if (Function.Segment != 0) {
    snprintf(Text, sizeof Text, "%04x:%02x:%02x.%u", Function.Segment, Function.Bus,
             Function.Device, Function.Function);
  } else {
    snprintf(Text, sizeof Text, "%02x:%02x.%u", Function.Bus, Function.Device, Function.Function);
  }
  return Text;
}

// The offset of a hex line as lspci prints it.
std::string FormatOffset(size_t Offset) {
  char Text[16];
  snprintf(Text, sizeof Text, Offset < DUMP_OFFSET_THREE_DIGITS ? "%02zx" : "%03zx", Offset);
  return Text;
}

// A first word that is meant as a function address: it starts with a hex digit and has the
// dot before the function number. Whether it is a valid one is checked later.
bool LooksLikeAddress(std::string_view Word) {
  return !Word.empty() && HexDigitValue(Word.front()) >= 0 &&
         Word.find('.') != std::string_view::npos;
}

// A first word that is meant as the offset of a hex line: a few letters or digits and a
// colon, which decoded lines such as "Capabilities:" are not.
bool LooksLikeOffset(std::string_view Word) {
  if (Word.size() < 2 || Word.size() > DUMP_OFFSET_WORD_MAX || Word.back() != ':') {
    return false;
  }
  for (char C : Word.substr(0, Word.size() - 1)) {
    if (!std::isalnum(static_cast<unsigned char>(C))) {
      return false;
    }
  }
  return true;
}

bool IsValidSize(size_t Size) {
  return Size == DUMP_SIZE_HEADER || Size == DUMP_SIZE_CONVENTIONAL || Size == DUMP_SIZE_EXTENDED;
}

class DumpParser {
public:
  DumpParser(const std::string &Name, std::string &Error) : Name(Name), Error(Error) {}

  // Parses one line, without its LF; false with Error set on a fault.
  bool Feed(std::string_view Line) {
    if (!Line.empty() && Line.back() == '\r') {
      Line.remove_suffix(1);
    }
    ++LineNumber;
    return ParseLine(Line);
  }

  // Ends the text: closes the last function and hands the functions to Image.
  bool Finish(ConfigImage &Image) {
    if (!EndFunction()) {
      return false;
    }
    Image = std::move(Parsed);
    return true;
  }

  // The fault of a line longer than any lspci prints, which is not held to be read.
  bool FailLongLine() {
    ++LineNumber;
    return Fail("line longer than " + std::to_string(DUMP_LINE_MAX) + " characters");
  }

private:
  bool Fail(const std::string &What) {
    Error = Name + ":" + std::to_string(LineNumber) + ": " + What;
    return false;
  }

  bool ParseLine(std::string_view Line) {
    if (Line.empty()) {
      if (!EndFunction()) {
        return false;
      }
      AfterBlank = true;
      return true;
    }
    if (Line.front() == DECODED_LINE_START || Line.front() == DECODED_LINE_START_COPIED) {
      return SkipDecodedLine();
    }
    if (Line.front() == FACTS_LINE_START || Line.front() == SCREEN_LINE_START) {
      return true;
    }
    std::string_view FirstWord = Line.substr(0, Line.find(' '));
    if (LooksLikeAddress(FirstWord)) {
      return ParseHeader(Line, FirstWord);
    }
    if (LooksLikeOffset(FirstWord)) {
      return ParseHexLine(Line, FirstWord);
    }
    return Fail("neither a function header \"BB:DD.F ...\" nor a hex line \"OFF: xx ...\"");
  }

  // Header line: closes the function before it, which must have been ended by a blank line.
  bool ParseHeader(std::string_view Line, std::string_view Address) {
    if (InFunction) {
      if (!EndFunction()) {
        return false;
      }
      return Fail("function header without a blank line before it");
    }
    if (!Parsed.empty() && !AfterBlank) {
      return Fail("function header without a blank line before it");
    }
    if (Address.size() < Line.size() && Line[Address.size()] != ' ') {
      return Fail("function address not followed by a space");
    }
    ConfigFunction Function;
    if (!ParseAddress(Address, Function)) {
      return false;
    }
    FunctionKey Key{Function.Segment, Function.Bus, Function.Device, Function.Function};
    auto [Known, Inserted] = FirstListed.emplace(Key, LineNumber);
    if (!Inserted) {
      return Fail("function " + FormatAddress(Function) + " already listed at line " +
                  std::to_string(Known->second));
    }
    Parsed.push_back(std::move(Function));
    InFunction = true;
    AfterBlank = false;
    return true;
  }

  // A decoded line: it belongs between a function's header and its first hex line.
  bool SkipDecodedLine() {
    if (!InFunction) {
      return Fail("decoded line (indented) outside a function: a function header "
                  "must come first");
    }
    if (!Parsed.back().Bytes.empty()) {
      return Fail("decoded line (indented) among the hex lines of " + FormatAddress(Parsed.back()));
    }
    return true;
  }

  // "[DDDD:]BB:DD.F" into the address fields of Function.
  bool ParseAddress(std::string_view Address, ConfigFunction &Function) {
    const std::string Shape = "function address must be [DDDD:]BB:DD.F in hex";
    size_t Dot = Address.find('.');
    std::string_view FunctionText = Address.substr(Dot + 1);
    std::string_view Prefix = Address.substr(0, Dot);
    size_t LastColon = Prefix.rfind(':');
    if (LastColon == std::string_view::npos) {
      return Fail(Shape);
    }
    std::string_view DeviceText = Prefix.substr(LastColon + 1);
    Prefix = Prefix.substr(0, LastColon);
    size_t DomainColon = Prefix.rfind(':');
    std::string_view BusText = Prefix;
    std::string_view DomainText;
    if (DomainColon != std::string_view::npos) {
      BusText = Prefix.substr(DomainColon + 1);
      DomainText = Prefix.substr(0, DomainColon);
      if (DomainText.size() < DOMAIN_MIN_DIGITS || DomainText.size() > DOMAIN_MAX_DIGITS) {
        return Fail(Shape);
      }
    }
    std::optional<uint32_t> Domain = DomainText.empty() ? 0 : ParseHex(DomainText);
    std::optional<uint32_t> Bus = ParseHex(BusText);
    std::optional<uint32_t> Device = ParseHex(DeviceText);
    std::optional<uint32_t> FunctionNumber = ParseHex(FunctionText);
    if (!Domain || !Bus || !Device || !FunctionNumber || BusText.size() != BUS_DIGITS ||
        DeviceText.size() != DEVICE_DIGITS || FunctionText.size() != 1) {
      return Fail(Shape);
    }
    if (*Device > MAX_DEVICE) {
      return Fail("device " + std::string(DeviceText) + " above 1f");
    }
    if (*FunctionNumber > MAX_FUNCTION) {
      return Fail("function " + std::string(FunctionText) + " above 7");
    }
    Function.Segment = *Domain;
    Function.Bus = static_cast<uint8_t>(*Bus);
    Function.Device = static_cast<uint8_t>(*Device);
    Function.Function = static_cast<uint8_t>(*FunctionNumber);
    return true;
  }

  // "OFF: xx xx ... xx": the next 16 bytes of the open function.
  bool ParseHexLine(std::string_view Line, std::string_view OffsetWord) {
    if (!InFunction) {
      return Fail("hex line outside a function: a function header must come first");
    }
    std::vector<uint8_t> &Bytes = Parsed.back().Bytes;
    if (Bytes.size() >= DUMP_SIZE_EXTENDED) {
      return Fail("more than 4096 bytes for " + FormatAddress(Parsed.back()));
    }
    std::string_view OffsetText = OffsetWord.substr(0, OffsetWord.size() - 1);
    std::string Expected = FormatOffset(Bytes.size());
    std::optional<uint32_t> Offset = ParseHex(OffsetText);
    if (!Offset || OffsetText.size() != Expected.size()) {
      return Fail("bad offset \"" + std::string(OffsetWord) + "\", expected \"" + Expected + ":\"");
    }
    if (*Offset != Bytes.size()) {
      return Fail("offset " + std::string(OffsetText) + " where " + Expected + " was expected");
    }
    std::string_view Rest = Line.substr(OffsetWord.size());
    if (Rest.size() != DUMP_BYTES_PER_LINE * 3) {
      return Fail("a hex line holds 16 bytes, each a space and two hex digits");
    }
    for (size_t I = 0; I < DUMP_BYTES_PER_LINE; ++I) {
      std::string_view Field = Rest.substr(I * 3, 3);
      std::optional<uint32_t> Byte = ParseHex(Field.substr(1));
      if (Field[0] != ' ' || !Byte) {
        return Fail("byte " + std::to_string(I) + " is not a space and two hex digits");
      }
      Bytes.push_back(static_cast<uint8_t>(*Byte));
    }
    return true;
  }

  // Closes the open function, if any; its size must be one that lspci prints.
  bool EndFunction() {
    if (!InFunction) {
      return true;
    }
    InFunction = false;
    const ConfigFunction &Function = Parsed.back();
    if (Function.Bytes.empty()) {
      return Fail(FormatAddress(Function) +
                  " has no hex lines; lspci prints them with -x, -xxx or -xxxx");
    }
    if (!IsValidSize(Function.Bytes.size())) {
      return Fail(FormatAddress(Function) + " ends after " + std::to_string(Function.Bytes.size()) +
                  " bytes; lspci prints 64, 256 or 4096");
    }
    return true;
  }

  const std::string &Name;
  std::string &Error;
  ConfigImage Parsed;
  std::map<FunctionKey, size_t> FirstListed;
  size_t LineNumber = 0;
  bool InFunction = false;
  bool AfterBlank = false;
};

} // namespace

bool ParseConfigDump(const std::string &Text, const std::string &Name, ConfigImage &Image,
                     std::string &Error) {
  DumpParser Parser(Name, Error);
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string::npos) {
      End = Text.size();
    }
    const bool Parsed = End - Start <= DUMP_LINE_MAX
                            ? Parser.Feed(std::string_view(Text.data() + Start, End - Start))
                            : Parser.FailLongLine();
    if (!Parsed) {
      return false;
    }
    Start = End + 1;
  }
  return Parser.Finish(Image);
}

bool ReadConfigDump(int Descriptor, const std::string &Name, ConfigImage &Image, std::string &Error,
                    const DumpChunkCopy &Copy) {
  DumpParser Parser(Name, Error);
  std::vector<char> Chunk(DUMP_READ_CHUNK);
  // The start of a line that the previous chunk did not end.
  std::string Pending;
  for (;;) {
    const ssize_t Got = read(Descriptor, Chunk.data(), Chunk.size());
    if (Got < 0 && errno == EINTR) {
      continue;
    }
    if (Got < 0) {
      Error = Name + ": cannot read: " + std::strerror(errno);
      return false;
    }
    if (Got == 0) {
      break;
    }
    const std::string_view Text(Chunk.data(), static_cast<size_t>(Got));
    if (Copy && !Copy(Text)) {
      return false;
    }
    size_t Start = 0;
    for (size_t End = Text.find('\n'); End != std::string_view::npos;
         End = Text.find('\n', Start)) {
      const std::string_view Piece = Text.substr(Start, End - Start);
      bool Parsed = false;
      if (Pending.empty()) {
        Parsed = Parser.Feed(Piece);
      } else {
        Pending.append(Piece);
        Parsed = Pending.size() <= DUMP_LINE_MAX ? Parser.Feed(Pending) : Parser.FailLongLine();
        Pending.clear();
      }
      if (!Parsed) {
        return false;
      }
      Start = End + 1;
    }
    Pending.append(Text.substr(Start));
    if (Pending.size() > DUMP_LINE_MAX) {
      return Parser.FailLongLine();
    }
  }
  if (!Pending.empty() && !Parser.Feed(Pending)) {
    return false;
  }
  return Parser.Finish(Image);
}

bool LoadConfigDump(const std::string &Path, ConfigImage &Image, std::string &Error) {
  const int File = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (File < 0) {
    Error = Path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  const bool Read = ReadConfigDump(File, Path, Image, Error, {});
  close(File);
  return Read;
}
