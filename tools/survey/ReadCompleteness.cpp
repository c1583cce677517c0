// Which functions were read only in part, and how the user gets them whole: as root on this
// machine, or with `lspci -xxxx` run as root for a dump.
#include "tools/survey/ReadCompleteness.h"

#include <algorithm>

namespace {

// Configuration space of every function, and of a PCI Express function.
constexpr size_t CONVENTIONAL_SPACE_BYTES = 256;
constexpr size_t EXTENDED_SPACE_BYTES = 4096;
// A function of no more than its standard header holds no capability list, so its kind and
// with it its full size are unknown.
constexpr size_t HEADER_BYTES = 64;

// "1 function holds" / "3 functions hold".
std::string CountFunctions(size_t Count, const char *One, const char *Many) {
  return std::to_string(Count) + (Count == 1 ? " function " : " functions ") +
         (Count == 1 ? One : Many);
}

// "  DDDD:BB:DD.F vvvv:dddd: 64 of at least 256 bytes".
std::string DescribeFunction(const ShortFunction &Function) {
  std::string Line = "  " + FormatFunctionAddress(Function.Key) + " " + Function.Ids + ": " +
                     std::to_string(Function.Held) + " of ";
  if (Function.Held <= HEADER_BYTES) {
    Line += "at least ";
  }
  Line += std::to_string(Function.Needed) + " bytes";
  if (Function.Express) {
    Line += " (PCI Express)";
  }
  return Line;
}

// The description lines of those of Short's functions that came from Source.
std::vector<std::string> DescribeFunctionsOf(const std::vector<ShortFunction> &Short,
                                             const std::string &Source) {
  std::vector<std::string> Lines;
  for (const ShortFunction &Function : Short) {
    if (Function.Source == Source) {
      Lines.push_back(DescribeFunction(Function));
    }
  }
  return Lines;
}

} // namespace

std::vector<ShortFunction> FindShortFunctions(const PreviewImage &Image,
                                              const std::map<FunctionKey, FunctionFacts> &Facts) {
  std::vector<ShortFunction> Short;
  for (const PreviewFunction &Function : Image) {
    const auto Found = Facts.find(KeyOf(Function));
    const bool Express = Found != Facts.end() && Found->second.Express;
    const size_t Needed = Express ? EXTENDED_SPACE_BYTES : CONVENTIONAL_SPACE_BYTES;
    const size_t Held = Function.Config.Bytes.size();
    if (Held < Needed) {
      Short.push_back({KeyOf(Function), FormatFunctionIds(Function.Config), Held, Needed, Express,
                       Function.Source});
    }
  }
  return Short;
}

std::vector<std::string> DescribeShortMachineFunctions(const std::vector<ShortFunction> &Short,
                                                       bool Privileged,
                                                       const std::string &Command) {
  std::vector<std::string> Lines;
  if (Short.empty()) {
    return Lines;
  }
  const bool One = Short.size() == 1;
  Lines.push_back(std::to_string(Short.size()) + (One ? " function" : " functions") +
                  " could be read only in part" +
                  (Privileged ? ", even as root:" : ", as this process is not root:"));
  const std::vector<std::string> Described = DescribeFunctionsOf(Short, "");
  Lines.insert(Lines.end(), Described.begin(), Described.end());
  const std::string Scanned =
      std::string(One ? "it was" : "they were") + " scanned on what was read";
  if (Privileged) {
    Lines.push_back(Scanned + "; the access method gives no more of " + (One ? "it" : "them") +
                    " (extended configuration space needs the platform's memory-mapped access)");
  } else {
    Lines.push_back(Scanned + "; run as root to read " + (One ? "it" : "them") + " whole: sudo " +
                    Command);
  }
  return Lines;
}

std::vector<std::string> DescribeShortDumpFunctions(const std::vector<ShortFunction> &Short) {
  // Files in the order their first short function comes.
  std::vector<std::string> Sources;
  for (const ShortFunction &Function : Short) {
    if (std::find(Sources.begin(), Sources.end(), Function.Source) == Sources.end()) {
      Sources.push_back(Function.Source);
    }
  }
  std::vector<std::string> Lines;
  for (const std::string &Source : Sources) {
    const std::vector<std::string> Described = DescribeFunctionsOf(Short, Source);
    const bool One = Described.size() == 1;
    Lines.push_back(Source + ": " + CountFunctions(Described.size(), "holds", "hold") +
                    " fewer bytes than " + (One ? "its" : "their") + " kind needs:");
    Lines.insert(Lines.end(), Described.begin(), Described.end());
    Lines.push_back(std::string(One ? "it was" : "they were") +
                    " scanned on what the dump holds; `lspci -xxxx`, run as root, captures "
                    "functions whole");
  }
  return Lines;
}
