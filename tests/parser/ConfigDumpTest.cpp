// The lspci dump parser: the shapes lspci prints are read exactly, every other text is refused
// with the file and line of the first fault.
#include "host/ConfigImage.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Hex lines as lspci prints them for Size bytes from offset 0, each byte its offset's low byte
// plus Seed, so that every position of the result can be checked.
std::string HexLines(size_t Size, unsigned Seed = 0) {
  std::string Text;
  for (size_t Offset = 0; Offset < Size; Offset += 16) {
    char Line[80];
    int Length = std::snprintf(Line, sizeof Line, Offset < 0x100 ? "%02zx:" : "%03zx:", Offset);
    for (size_t Index = 0; Index < 16; ++Index) {
      Length += std::snprintf(Line + Length, sizeof Line - Length, " %02x",
                              unsigned(Offset + Index + Seed) & 0xFF);
    }
    Text += std::string(Line) + "\n";
  }
  return Text;
}

// One function as lspci prints it: header, hex lines, blank line.
std::string Function(const std::string &Header, size_t Size, unsigned Seed = 0) {
  return Header + "\n" + HexLines(Size, Seed) + "\n";
}

const std::string GPU = "01:00.0 VGA compatible controller: Advanced Micro Devices, Inc. [AMD/ATI]";
const std::string AUDIO = "01:00.1 Audio device: Advanced Micro Devices, Inc. [AMD/ATI]";
// Decoded lines as `lspci -vvv` prints them below a function's header.
const std::string DECODED = "\tControl: I/O+ Mem+ BusMaster+ SpecCycle- MemWINV-\n";
const std::string DECODED_DETAIL = "\t\tBAR 0: current size: 256MB, supported: 256MB 512MB\n";

// What one parsed function must hold.
struct ExpectedFunction {
  uint32_t Segment;
  uint8_t Bus;
  uint8_t Device;
  uint8_t Function;
  size_t Size;
  unsigned Seed;
};

struct AcceptedCase {
  const char *Name;
  std::string Text;
  std::vector<ExpectedFunction> Functions;
};

class AcceptedDump : public testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedDump, ParsesEveryFunction) {
  const AcceptedCase &Case = GetParam();
  ConfigImage Image;
  std::string Error;
  ASSERT_TRUE(ParseConfigDump(Case.Text, "case.dump", Image, Error)) << Error;
  ASSERT_EQ(Image.size(), Case.Functions.size());
  for (size_t Index = 0; Index < Image.size(); ++Index) {
    const ConfigFunction &Got = Image[Index];
    const ExpectedFunction &Want = Case.Functions[Index];
    SCOPED_TRACE("function " + std::to_string(Index));
    EXPECT_EQ(Got.Segment, Want.Segment);
    EXPECT_EQ(Got.Bus, Want.Bus);
    EXPECT_EQ(Got.Device, Want.Device);
    EXPECT_EQ(Got.Function, Want.Function);
    ASSERT_EQ(Got.Bytes.size(), Want.Size);
    for (size_t Offset = 0; Offset < Want.Size; ++Offset) {
      ASSERT_EQ(Got.Bytes[Offset], (Offset + Want.Seed) & 0xFF) << "offset " << Offset;
    }
  }
}

std::string Crlf(const std::string &Text) {
  std::string Out;
  for (char C : Text) {
    Out += C == '\n' ? "\r\n" : std::string(1, C);
  }
  return Out;
}

std::string Upper(std::string Text) {
  for (char &C : Text) {
    C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  }
  return Text;
}

INSTANTIATE_TEST_SUITE_P(
    ConfigDump, AcceptedDump,
    testing::Values(
        AcceptedCase{"Empty", "", {}},
        AcceptedCase{"StandardHeader", Function(GPU, 64), {{0, 1, 0, 0, 64, 0}}},
        AcceptedCase{"ConventionalSpace", Function(GPU, 256), {{0, 1, 0, 0, 256, 0}}},
        AcceptedCase{"ExtendedSpace", Function(GPU, 4096, 7), {{0, 1, 0, 0, 4096, 7}}},
        AcceptedCase{"Domain",
                     Function("0001:3f:1e.6 Ethernet controller", 256),
                     {{1, 0x3F, 0x1E, 6, 256, 0}}},
        AcceptedCase{"VmdDomain",
                     Function("10000:e1:00.0 Non-Volatile memory controller", 64),
                     {{0x10000, 0xE1, 0, 0, 64, 0}}},
        AcceptedCase{
            "ZeroDomainWritten", Function("0000:00:1f.3 Audio", 64), {{0, 0, 0x1F, 3, 64, 0}}},
        AcceptedCase{"NoDescription", Function("02:00.0", 64), {{0, 2, 0, 0, 64, 0}}},
        AcceptedCase{"SizesMixed",
                     Function(GPU, 4096, 1) + Function(AUDIO, 256, 2) +
                         Function("00:1f.0 ISA bridge", 64, 3),
                     {{0, 1, 0, 0, 4096, 1}, {0, 1, 0, 1, 256, 2}, {0, 0, 0x1F, 0, 64, 3}}},
        AcceptedCase{"NoFinalBlankLine",
                     Function(GPU, 64) + AUDIO + "\n" + HexLines(64),
                     {{0, 1, 0, 0, 64, 0}, {0, 1, 0, 1, 64, 0}}},
        AcceptedCase{"NoFinalLineEnd",
                     GPU + "\n" + HexLines(64).substr(0, HexLines(64).size() - 1),
                     {{0, 1, 0, 0, 64, 0}}},
        AcceptedCase{"SeveralBlankLines",
                     "\n\n" + Function(GPU, 64) + "\n\n" + Function(AUDIO, 64) + "\n",
                     {{0, 1, 0, 0, 64, 0}, {0, 1, 0, 1, 64, 0}}},
        AcceptedCase{"CrLfLineEnds",
                     Crlf(Function(GPU, 256) + Function(AUDIO, 64)),
                     {{0, 1, 0, 0, 256, 0}, {0, 1, 0, 1, 64, 0}}},
        AcceptedCase{"DecodedLines",
                     GPU + "\n" + DECODED + DECODED_DETAIL + HexLines(256) + "\n" + AUDIO + "\n" +
                         DECODED + HexLines(64, 5),
                     {{0, 1, 0, 0, 256, 0}, {0, 1, 0, 1, 64, 5}}},
        AcceptedCase{"DecodedLinesCrLf",
                     Crlf(GPU + "\n" + DECODED + DECODED_DETAIL + HexLines(4096, 3) + "\n"),
                     {{0, 1, 0, 0, 4096, 3}}},
        AcceptedCase{"DecodedLinesWithSpaces",
                     GPU + "\n        Control: I/O+ Mem+\n    \n" + HexLines(64),
                     {{0, 1, 0, 0, 64, 0}}},
        AcceptedCase{"UpperCaseHex",
                     Upper(Function("0a:1f.7 X", 256, 0xA0)),
                     {{0, 0x0A, 0x1F, 7, 256, 0xA0}}}),
    [](const testing::TestParamInfo<AcceptedCase> &Info) { return std::string(Info.param.Name); });

struct RefusedCase {
  const char *Name;
  std::string Text;
  std::string Error;
};

class RefusedDump : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedDump, NamesTheLine) {
  const RefusedCase &Case = GetParam();
  ConfigImage Image;
  std::string Error;
  EXPECT_FALSE(ParseConfigDump(Case.Text, "bad.dump", Image, Error));
  EXPECT_EQ(Error, Case.Error);
}

// The 64-byte dump of one function with line Line (1 = header) replaced by Replacement.
std::string WithLine(size_t Line, const std::string &Replacement) {
  std::string Text = Function(GPU, 64);
  size_t Start = 0;
  for (size_t Index = 1; Index < Line; ++Index) {
    Start = Text.find('\n', Start) + 1;
  }
  size_t End = Text.find('\n', Start);
  return Text.substr(0, Start) + Replacement + Text.substr(End);
}

const std::string ROW_00 = "00: 02 10 bf 73 07 04 10 00 c1 00 00 03 10 00 80 00";

INSTANTIATE_TEST_SUITE_P(
    ConfigDump, RefusedDump,
    testing::Values(
        RefusedCase{"HexBeforeHeader", HexLines(64),
                    "bad.dump:1: hex line outside a function: a function header must come first"},
        RefusedCase{"Garbage", Function(GPU, 64) + "Capabilities: [40] Power Management\n",
                    "bad.dump:7: neither a function header \"BB:DD.F ...\" nor a hex line \"OFF: "
                    "xx ...\""},
        RefusedCase{"DecodedLineAmongHexLines",
                    GPU + "\n" + HexLines(32) + DECODED + HexLines(64).substr(104),
                    "bad.dump:4: decoded line (indented) among the hex lines of 01:00.0"},
        RefusedCase{"DecodedLineFirst", DECODED + Function(GPU, 64),
                    "bad.dump:1: decoded line (indented) outside a function: a function "
                    "header must come first"},
        RefusedCase{"DecodedLineAfterBlank", Function(GPU, 64) + DECODED,
                    "bad.dump:7: decoded line (indented) outside a function: a function "
                    "header must come first"},
        RefusedCase{"IndentedHexLine", WithLine(3, "  10:" + ROW_00.substr(3)),
                    "bad.dump:3: decoded line (indented) among the hex lines of 01:00.0"},
        RefusedCase{"DecodedLinesWithoutHex", GPU + "\n" + DECODED + "\n" + Function(AUDIO, 64),
                    "bad.dump:3: 01:00.0 has no hex lines; lspci prints them with -x, -xxx or "
                    "-xxxx"},
        RefusedCase{"OffsetGap", WithLine(3, "20:" + ROW_00.substr(3)),
                    "bad.dump:3: offset 20 where 10 was expected"},
        RefusedCase{"OffsetOneDigit", WithLine(2, "0:" + ROW_00.substr(3)),
                    "bad.dump:2: bad offset \"0:\", expected \"00:\""},
        RefusedCase{"OffsetNotHex", WithLine(2, "0g:" + ROW_00.substr(3)),
                    "bad.dump:2: bad offset \"0g:\", expected \"00:\""},
        RefusedCase{"ExtendedOffsetTwoDigits",
                    GPU + "\n" + HexLines(256) + "00:" + ROW_00.substr(3) + "\n",
                    "bad.dump:18: bad offset \"00:\", expected \"100:\""},
        RefusedCase{"ShortLine", WithLine(2, ROW_00.substr(0, ROW_00.size() - 3)),
                    "bad.dump:2: a hex line holds 16 bytes, each a space and two hex digits"},
        RefusedCase{"LongLine", WithLine(2, ROW_00 + " 00"),
                    "bad.dump:2: a hex line holds 16 bytes, each a space and two hex digits"},
        RefusedCase{"TrailingSpace", WithLine(2, ROW_00 + " "),
                    "bad.dump:2: a hex line holds 16 bytes, each a space and two hex digits"},
        RefusedCase{"ByteNotHex", WithLine(2, ROW_00.substr(0, 9) + "zz" + ROW_00.substr(11)),
                    "bad.dump:2: byte 2 is not a space and two hex digits"},
        RefusedCase{"ByteThreeDigits",
                    WithLine(2, "00:  02 10 bf 73 07 04 10 00 c1 00 00 03 10 00 80 0"),
                    "bad.dump:2: byte 0 is not a space and two hex digits"},
        RefusedCase{"EndsBetweenSizes", Function(GPU, 128),
                    "bad.dump:10: 01:00.0 ends after 128 bytes; lspci prints 64, 256 or 4096"},
        RefusedCase{"EndsBetweenSizesAtEnd", GPU + "\n" + HexLines(48),
                    "bad.dump:4: 01:00.0 ends after 48 bytes; lspci prints 64, 256 or 4096"},
        RefusedCase{"HeaderWithoutBytes", GPU + "\n\n" + Function(AUDIO, 64),
                    "bad.dump:2: 01:00.0 has no hex lines; lspci prints them with -x, -xxx or "
                    "-xxxx"},
        RefusedCase{"BlankInsideFunction",
                    GPU + "\n" + HexLines(32) + "\n" + HexLines(64).substr(104),
                    "bad.dump:4: 01:00.0 ends after 32 bytes; lspci prints 64, 256 or 4096"},
        RefusedCase{"BeyondExtendedSpace",
                    GPU + "\n" + HexLines(4096) + "1000:" + ROW_00.substr(3) + "\n",
                    "bad.dump:258: more than 4096 bytes for 01:00.0"},
        RefusedCase{"HeaderWithoutBlankLine", GPU + "\n" + HexLines(64) + Function(AUDIO, 64),
                    "bad.dump:6: function header without a blank line before it"},
        RefusedCase{"Duplicate", Function(GPU, 64) + Function(GPU, 256),
                    "bad.dump:7: function 01:00.0 already listed at line 1"},
        RefusedCase{"DuplicateWithDomain",
                    Function("0002:01:00.0 X", 64) + Function("0002:01:00.0 Y", 64),
                    "bad.dump:7: function 0002:01:00.0 already listed at line 1"},
        RefusedCase{"DeviceAbove31", Function("01:20.0 X", 64), "bad.dump:1: device 20 above 1f"},
        RefusedCase{"FunctionAbove7", Function("01:00.8 X", 64), "bad.dump:1: function 8 above 7"},
        RefusedCase{"DomainNineDigits", Function("100000000:01:00.0 X", 64),
                    "bad.dump:1: function address must be [DDDD:]BB:DD.F in hex"},
        RefusedCase{"LineBeyondAnyLspciPrints", std::string(70000, 'x') + "\n",
                    "bad.dump:1: line longer than 65536 characters"},
        RefusedCase{"DomainShort", Function("001:01:00.0 X", 64),
                    "bad.dump:1: function address must be [DDDD:]BB:DD.F in hex"},
        RefusedCase{"BusOneDigit", Function("1:00.0 X", 64),
                    "bad.dump:1: function address must be [DDDD:]BB:DD.F in hex"},
        RefusedCase{"NoDevice", Function("01.0 X", 64),
                    "bad.dump:1: function address must be [DDDD:]BB:DD.F in hex"},
        RefusedCase{"AddressThenTab", Function("01:00.0\tX", 64),
                    "bad.dump:1: function address must be [DDDD:]BB:DD.F in hex"}),
    [](const testing::TestParamInfo<RefusedCase> &Info) { return std::string(Info.param.Name); });

TEST(ConfigDump, RefusedParseLeavesImageAlone) {
  ConfigImage Image(1);
  std::string Error;
  EXPECT_FALSE(ParseConfigDump(Function(GPU, 64) + Function(AUDIO, 100), "x", Image, Error));
  EXPECT_EQ(Image.size(), 1u);
  EXPECT_TRUE(Image[0].Bytes.empty());
}

TEST(ConfigDump, ParseReplacesImage) {
  ConfigImage Image(3);
  std::string Error;
  ASSERT_TRUE(ParseConfigDump(Function(GPU, 64), "x", Image, Error)) << Error;
  EXPECT_EQ(Image.size(), 1u);
}

TEST(ConfigDump, LoadNamesTheFileInErrors) {
  std::filesystem::path Path = std::filesystem::temp_directory_path() / "config-dump-test.dump";
  {
    std::ofstream File(Path, std::ios::binary);
    File << Function(GPU, 64) << "zz\n";
  }
  ConfigImage Image;
  std::string Error;
  EXPECT_FALSE(LoadConfigDump(Path.string(), Image, Error));
  EXPECT_EQ(Error,
            Path.string() +
                ":7: neither a function header \"BB:DD.F ...\" nor a hex line \"OFF: xx ...\"");
  std::filesystem::remove(Path);
}

// A fault ends the reading at its line: a pipe whose writer never ends is not waited on.
TEST(ConfigDump, ReadStopsAtTheFirstBadLine) {
  int Pipe[2];
  ASSERT_EQ(pipe(Pipe), 0);
  const std::string Text = HexLines(64);
  ASSERT_EQ(write(Pipe[1], Text.data(), Text.size()), static_cast<ssize_t>(Text.size()));
  ConfigImage Image;
  std::string Error;
  EXPECT_FALSE(ReadConfigDump(Pipe[0], "pipe", Image, Error, {}));
  EXPECT_EQ(Error, "pipe:1: hex line outside a function: a function header must come first");
  close(Pipe[0]);
  close(Pipe[1]);
}

TEST(ConfigDump, ReadReportsAReadError) {
  const int Directory = open("/", O_RDONLY);
  ASSERT_GE(Directory, 0);
  ConfigImage Image;
  std::string Error;
  EXPECT_FALSE(ReadConfigDump(Directory, "dir", Image, Error, {}));
  EXPECT_EQ(Error, "dir: cannot read: Is a directory");
  close(Directory);
}

TEST(ConfigDump, LoadReportsAMissingFile) {
  ConfigImage Image;
  std::string Error;
  EXPECT_FALSE(LoadConfigDump("/nonexistent/none.dump", Image, Error));
  EXPECT_EQ(Error, "/nonexistent/none.dump: cannot open: No such file or directory");
}

// Every fixture dump of the tree parses, holds functions of the sizes lspci prints, and comes
// with its expected report.
class FixtureDump : public testing::TestWithParam<std::string> {};

TEST_P(FixtureDump, Parses) {
  std::filesystem::path Path = std::filesystem::path(RBAR_DUMPS_DIR) / (GetParam() + ".dump");
  ConfigImage Image;
  std::string Error;
  ASSERT_TRUE(LoadConfigDump(Path.string(), Image, Error)) << Error;
  EXPECT_FALSE(Image.empty());
  EXPECT_TRUE(std::filesystem::exists(Path.replace_extension(".expected")));
}

std::vector<std::string> FixtureDumpNames() {
  std::vector<std::string> Names;
  for (const auto &Entry : std::filesystem::directory_iterator(RBAR_DUMPS_DIR)) {
    if (Entry.path().extension() == ".dump") {
      Names.push_back(Entry.path().stem().string());
    }
  }
  std::sort(Names.begin(), Names.end());
  return Names;
}

std::string TestName(const testing::TestParamInfo<std::string> &Info) {
  std::string Name = Info.param;
  for (char &C : Name) {
    if (!std::isalnum(static_cast<unsigned char>(C))) {
      C = '_';
    }
  }
  return Name;
}

INSTANTIATE_TEST_SUITE_P(Tree, FixtureDump, testing::ValuesIn(FixtureDumpNames()), TestName);

} // namespace
