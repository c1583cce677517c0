// Configuration space through libpci. Each function is read once, in three steps (the header,
// the rest of the conventional space, the extended space): a step that the access method
// refuses, as Linux refuses unprivileged reads past the header, ends the function's bytes there.
#include "tools/source/LibpciImage.h"

extern "C" {
#include <pci/pci.h>
}

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "tools/cli/PreviewOptions.h"

namespace {

// Where each read step ends: the standard header, the conventional configuration space and the
// extended configuration space.
constexpr std::array<int, 3> READ_STEP_ENDS = {64, 256, 4096};
// Standard input is handed to libpci as an anonymous in-memory file of this name, opened through
// the process's own file descriptor directory.
constexpr const char *STDIN_MEMORY_FILE = "rbar-survey-stdin";
constexpr const char *OWN_FILE_DESCRIPTORS = "/proc/self/fd/";

// What libpci's messages are reported against (the dump file, or libpci itself for this
// machine), and the status the process ends with on a fatal one. Set for each access.
const char *LibpciContext = "libpci";
int LibpciFailureExit = PREVIEW_EXIT_FAILURE;

// Prints one libpci message as "rbar-survey: CONTEXT: message".
void PrintLibpciMessage(const char *Kind, const char *Format, va_list Arguments) {
  std::fprintf(stderr, "%s: %s: %s", PREVIEW_PROGRAM, LibpciContext, Kind);
  std::vfprintf(stderr, Format, Arguments);
  std::fputc('\n', stderr);
}

// libpci's error callback must not return (its type says so): the message is printed and the
// process ends. The callbacks are C variadic functions, as libpci's types require.
__attribute__((noreturn)) void LibpciError(char *Format, ...) { // NOLINT(cert-dcl50-cpp)
  va_list Arguments;
  va_start(Arguments, Format);
  PrintLibpciMessage("", Format, Arguments);
  va_end(Arguments);
  std::exit(LibpciFailureExit);
}

void LibpciWarning(char *Format, ...) { // NOLINT(cert-dcl50-cpp)
  va_list Arguments;
  va_start(Arguments, Format);
  PrintLibpciMessage("warning: ", Format, Arguments);
  va_end(Arguments);
}

// A parsed function's address as a key.
FunctionKey KeyOfParsed(const ConfigFunction &Function) {
  return {Function.Segment, Function.Bus, Function.Device, Function.Function};
}

// Sorts Image by address.
void SortByAddress(PreviewImage &Image) {
  std::sort(Image.begin(), Image.end(),
            [](const PreviewFunction &Left, const PreviewFunction &Right) {
              return KeyOf(Left) < KeyOf(Right);
            });
}

// Debug output is only produced when asked for, which the tool never does.
void LibpciDebug(char * /*Format*/, ...) {} // NOLINT(cert-dcl50-cpp)

// A libpci access set up with the tool's callbacks; the method is chosen by the caller. Context
// must outlive the access.
pci_access *AllocateAccess(const std::string &Context, int FailureExit) {
  LibpciContext = Context.c_str();
  LibpciFailureExit = FailureExit;
  pci_access *Access = pci_alloc();
  Access->error = LibpciError;
  Access->warning = LibpciWarning;
  Access->debug = LibpciDebug;
  return Access;
}

// Reads as many bytes of Device as the access method gives, step by step; none when not even the
// header could be read.
std::vector<uint8_t> ReadFunctionBytes(pci_dev *Device) {
  std::vector<uint8_t> Bytes(READ_STEP_ENDS.back(), 0);
  int Held = 0;
  for (const int End : READ_STEP_ENDS) {
    if (pci_read_block(Device, Held, Bytes.data() + Held, End - Held) == 0) {
      break;
    }
    Held = End;
  }
  Bytes.resize(static_cast<size_t>(Held));
  return Bytes;
}

// The function libpci lists as Device, with its bytes as the access method gives them.
PreviewFunction ReadFunction(pci_dev *Device, const std::string &Source) {
  PreviewFunction Function;
  Function.Domain = static_cast<uint32_t>(Device->domain);
  Function.Config.Segment = Function.Domain;
  Function.Config.Bus = Device->bus;
  Function.Config.Device = Device->dev;
  Function.Config.Function = Device->func;
  Function.Config.Bytes = ReadFunctionBytes(Device);
  Function.Source = Source;
  return Function;
}

// Reads every device libpci lists for Access into Image; names the unreadable ones in Warnings.
void ReadDevices(pci_access *Access, const std::string &Source, PreviewImage &Image,
                 std::vector<std::string> &Warnings) {
  pci_scan_bus(Access);
  for (pci_dev *Device = Access->devices; Device != nullptr; Device = Device->next) {
    PreviewFunction Function = ReadFunction(Device, Source);
    if (Function.Config.Bytes.empty()) {
      Warnings.push_back(FormatFunctionAddress(KeyOf(Function)) +
                         ": not even its first 64 bytes can be read; left out of the scan");
      continue;
    }
    Image.push_back(std::move(Function));
  }
  SortByAddress(Image);
}

// What the strict parser found of one function: its address, its size and a digest of its
// bytes, which is all the check of libpci's reading needs to keep.
struct ParsedFunction {
  FunctionKey Key;
  size_t Size = 0;
  uint64_t Digest = 0;
};

// FNV-1a, 64 bits, of Bytes.
uint64_t DigestOf(const std::vector<uint8_t> &Bytes) {
  constexpr uint64_t FNV_OFFSET_BASIS = 0xCBF29CE484222325;
  constexpr uint64_t FNV_PRIME = 0x100000001B3;
  uint64_t Digest = FNV_OFFSET_BASIS;
  for (const uint8_t Byte : Bytes) {
    Digest = (Digest ^ Byte) * FNV_PRIME;
  }
  return Digest;
}

// The parsed functions as addresses and digests, sorted by address; Parsed is emptied, so that
// its bytes are not held beside libpci's.
std::vector<ParsedFunction> DigestParsed(ConfigImage &Parsed) {
  std::vector<ParsedFunction> Digests;
  Digests.reserve(Parsed.size());
  for (const ConfigFunction &Function : Parsed) {
    Digests.push_back({KeyOfParsed(Function), Function.Bytes.size(), DigestOf(Function.Bytes)});
  }
  ConfigImage().swap(Parsed);
  std::sort(
      Digests.begin(), Digests.end(),
      [](const ParsedFunction &Left, const ParsedFunction &Right) { return Left.Key < Right.Key; });
  return Digests;
}

// Adds each function libpci reads from the dump to Image, after checking that the strict parser
// found the same function with the same bytes (Parsed). Each device is freed once copied, so
// that the two readings are never both held whole.
bool AddSameAsParsed(pci_access *Access, const std::string &Name,
                     const std::vector<ParsedFunction> &Parsed, PreviewImage &Image,
                     std::string &Error) {
  pci_scan_bus(Access);
  size_t Count = 0;
  while (Access->devices != nullptr) {
    pci_dev *Device = Access->devices;
    PreviewFunction Function = ReadFunction(Device, Name);
    Access->devices = Device->next;
    pci_free_dev(Device);
    ++Count;
    const FunctionKey Key = KeyOf(Function);
    const auto Found = std::lower_bound(
        Parsed.begin(), Parsed.end(), Key,
        [](const ParsedFunction &Entry, const FunctionKey &Wanted) { return Entry.Key < Wanted; });
    const std::string Address = FormatFunctionAddress(Key);
    if (Found == Parsed.end() || Found->Key != Key) {
      Error = Name;
      Error += ": libpci reads a function " + Address + " that the file does not list";
      return false;
    }
    if (Function.Config.Bytes.empty()) {
      Error = Name;
      Error += ": " + Address + ": not even its first 64 bytes can be read";
      return false;
    }
    if (Found->Size != Function.Config.Bytes.size() ||
        Found->Digest != DigestOf(Function.Config.Bytes)) {
      Error = Name;
      Error += ": libpci reads " + std::to_string(Function.Config.Bytes.size()) + " bytes of ";
      Error += Address + " that differ from the " + std::to_string(Found->Size) + " the file holds";
      return false;
    }
    Image.push_back(std::move(Function));
  }
  if (Count != Parsed.size()) {
    Error = Name + ": libpci reads " + std::to_string(Count) + " functions where the file lists " +
            std::to_string(Parsed.size());
    return false;
  }
  return true;
}

// Reads the dump at File through libpci's dump method into Image, checked against Parsed, which
// the strict parser read from it; Name is what messages call the file.
bool ReadCheckedDump(const std::string &File, const std::string &Name, ConfigImage Parsed,
                     PreviewImage &Image, std::string &Error) {
  if (Parsed.empty()) {
    Error = Name + ": holds no function; a dump is what `lspci -x`, `-xxx` or `-xxxx` prints";
    return false;
  }
  const std::vector<ParsedFunction> Digests = DigestParsed(Parsed);
  pci_access *Access = AllocateAccess(Name, PREVIEW_EXIT_USAGE);
  Access->method = PCI_ACCESS_DUMP;
  std::string Parameter = "dump.name";
  std::string Path = File;
  if (pci_set_param(Access, Parameter.data(), Path.data()) != 0) {
    pci_cleanup(Access);
    Error = Name + ": libpci has no dump method";
    return false;
  }
  pci_init(Access);
  PreviewImage Read;
  const bool Same = AddSameAsParsed(Access, Name, Digests, Read, Error);
  pci_cleanup(Access);
  if (!Same) {
    return false;
  }
  SortByAddress(Read);
  std::move(Read.begin(), Read.end(), std::back_inserter(Image));
  return true;
}

// Reads a dump from standard input. libpci's dump method reads a named file, so the text is
// copied, as it is read, into an anonymous in-memory file, which vanishes with the process.
// StdinText, when given, receives the text too, for its firmware facts.
bool ReadStdinDumpImage(PreviewImage &Image, std::string &Error, std::string *StdinText) {
  const std::string Name = PREVIEW_STDIN_NAME;
  // A closed standard input is a read error; the in-memory file would otherwise take its
  // number and be read as an empty dump.
  if (fcntl(STDIN_FILENO, F_GETFD) < 0) {
    Error = Name + ": cannot read: " + std::strerror(errno);
    return false;
  }
  const int File = memfd_create(STDIN_MEMORY_FILE, MFD_CLOEXEC);
  if (File < 0) {
    Error = Name + ": cannot hold the text for libpci: " + std::strerror(errno);
    return false;
  }
  const auto CopyToFile = [&](std::string_view Text) {
    if (StdinText != nullptr) {
      StdinText->append(Text);
    }
    while (!Text.empty()) {
      const ssize_t Done = write(File, Text.data(), Text.size());
      if (Done <= 0) {
        Error = Name + ": cannot hold the text for libpci: " + std::strerror(errno);
        return false;
      }
      Text.remove_prefix(static_cast<size_t>(Done));
    }
    return true;
  };
  ConfigImage Parsed;
  const bool Read = ReadConfigDump(STDIN_FILENO, Name, Parsed, Error, CopyToFile) &&
                    ReadCheckedDump(OWN_FILE_DESCRIPTORS + std::to_string(File), Name,
                                    std::move(Parsed), Image, Error);
  close(File);
  return Read;
}

} // namespace

void ReadMachineImage(PreviewImage &Image, std::vector<std::string> &Warnings) {
  static const std::string MACHINE_CONTEXT = "libpci";
  pci_access *Access = AllocateAccess(MACHINE_CONTEXT, PREVIEW_EXIT_FAILURE);
  pci_init(Access);
  ReadDevices(Access, "", Image, Warnings);
  pci_cleanup(Access);
}

bool ReadDumpImage(const std::string &Path, PreviewImage &Image, std::string &Error,
                   std::string *StdinText) {
  if (Path == PREVIEW_STDIN_ARGUMENT) {
    return ReadStdinDumpImage(Image, Error, StdinText);
  }
  std::error_code Status;
  if (std::filesystem::is_directory(Path, Status)) {
    Error = Path + ": is a directory, not a dump file";
    return false;
  }
  ConfigImage Parsed;
  if (!LoadConfigDump(Path, Parsed, Error)) {
    return false;
  }
  return ReadCheckedDump(Path, Path, std::move(Parsed), Image, Error);
}

MachineBarSizes ReadMachineBarSizes() {
  static const std::string MACHINE_CONTEXT = "libpci";
  MachineBarSizes Sizes;
  pci_access *Access = AllocateAccess(MACHINE_CONTEXT, PREVIEW_EXIT_FAILURE);
  pci_init(Access);
  pci_scan_bus(Access);
  for (pci_dev *Device = Access->devices; Device != nullptr; Device = Device->next) {
    pci_fill_info(Device, PCI_FILL_SIZES);
    std::array<uint64_t, 6> &Known =
        Sizes[{static_cast<uint32_t>(Device->domain), Device->bus, Device->dev, Device->func}];
    for (size_t Bar = 0; Bar < Known.size(); ++Bar) {
      Known[Bar] = static_cast<uint64_t>(Device->size[Bar]);
    }
  }
  pci_cleanup(Access);
  return Sizes;
}
