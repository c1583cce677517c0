// /proc/iomem read for the ranges Linux gave to PCI buses. A line is "START-END : NAME", the
// numbers in hex without prefix, indented by two spaces per nesting level.
#include "tools/source/IomemWindows.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <string_view>

namespace {

constexpr const char *IOMEM_PATH = "/proc/iomem";
constexpr std::string_view NAME_SEPARATOR = " : ";
constexpr std::string_view BUS_NAME = "PCI Bus ";
constexpr int HEX_BASE = 16;
// "DDDD:BB": four digits of domain, a colon, two digits of bus.
constexpr size_t DOMAIN_DIGITS = 4;
constexpr size_t BUS_DIGITS = 2;

// Parses all of Text as a hex number of at most 64 bits.
bool ParseHex(std::string_view Text, uint64_t &Value) {
  const char *End = Text.data() + Text.size();
  const std::from_chars_result Result = std::from_chars(Text.data(), End, Value, HEX_BASE);
  return !Text.empty() && Result.ec == std::errc{} && Result.ptr == End;
}

// Parses one line into Window; false when it is not a PCI bus range.
bool ParseLine(std::string_view Line, BusWindow &Window) {
  while (!Line.empty() && Line.front() == ' ') {
    Line.remove_prefix(1);
  }
  const size_t Separator = Line.find(NAME_SEPARATOR);
  const size_t Dash = Line.find('-');
  if (Separator == std::string_view::npos || Dash == std::string_view::npos || Dash > Separator) {
    return false;
  }
  std::string_view Name = Line.substr(Separator + NAME_SEPARATOR.size());
  if (Name.substr(0, BUS_NAME.size()) != BUS_NAME ||
      Name.size() != BUS_NAME.size() + DOMAIN_DIGITS + 1 + BUS_DIGITS) {
    return false;
  }
  Name.remove_prefix(BUS_NAME.size());
  uint64_t Domain = 0;
  uint64_t Bus = 0;
  if (Name[DOMAIN_DIGITS] != ':' || !ParseHex(Name.substr(0, DOMAIN_DIGITS), Domain) ||
      !ParseHex(Name.substr(DOMAIN_DIGITS + 1), Bus) ||
      !ParseHex(Line.substr(0, Dash), Window.Start) ||
      !ParseHex(Line.substr(Dash + 1, Separator - Dash - 1), Window.End)) {
    return false;
  }
  Window.Domain = static_cast<uint32_t>(Domain);
  Window.Bus = static_cast<uint32_t>(Bus);
  return true;
}

} // namespace

std::vector<BusWindow> ParseIomemBusWindows(const std::string &Text) {
  std::vector<BusWindow> Windows;
  std::istringstream Lines(Text);
  std::string Line;
  while (std::getline(Lines, Line)) {
    BusWindow Window;
    if (ParseLine(Line, Window)) {
      Windows.push_back(Window);
    }
  }
  return Windows;
}

std::vector<BusWindow> ReadIomemBusWindows(bool &Known) {
  Known = false;
  std::ifstream File(IOMEM_PATH);
  if (!File) {
    return {};
  }
  std::ostringstream Text;
  Text << File.rdbuf();
  std::vector<BusWindow> Windows = ParseIomemBusWindows(Text.str());
  for (const BusWindow &Window : Windows) {
    Known = Known || Window.End != 0;
  }
  return Windows;
}
