// The command line of rbar-survey: --annotate, --explain, --json, --prometheus, --dump FILE... (or
// -F FILE, as lspci spells it), --help and --version. Every argument that is not an option and
// follows a dump option is a dump file; the argument right after --dump or -F is always one, even
// when it starts with "-". The file "-" is standard input, which can be read once.
#include "tools/cli/PreviewOptions.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view OPTION_ANNOTATE_LONG = "--annotate";
constexpr std::string_view OPTION_ANNOTATE_SHORT = "-a";
constexpr std::string_view OPTION_EXPLAIN = "--explain";
constexpr std::string_view OPTION_JSON = "--json";
constexpr std::string_view OPTION_PROMETHEUS = "--prometheus";
constexpr std::string_view OPTION_DUMP_LONG = "--dump";
constexpr std::string_view OPTION_DUMP_SHORT = "-F";
constexpr std::string_view OPTION_HELP_LONG = "--help";
constexpr std::string_view OPTION_HELP_SHORT = "-h";
constexpr std::string_view OPTION_VERSION = "--version";
// "--dump=FILE" and "-FFILE" carry the file in the same argument.
constexpr std::string_view OPTION_DUMP_LONG_ATTACHED = "--dump=";

bool StartsWith(std::string_view Text, std::string_view Prefix) {
  return Text.substr(0, Prefix.size()) == Prefix;
}

// Adds File to the dump files, refusing an empty name and a second standard input.
bool AddDumpFile(std::string_view File, PreviewOptions &Options, std::string &Error) {
  if (File.empty()) {
    Error = "empty dump file name";
    return false;
  }
  if (File == PREVIEW_STDIN_ARGUMENT &&
      std::find(Options.DumpFiles.begin(), Options.DumpFiles.end(), File) !=
          Options.DumpFiles.end()) {
    Error = "standard input (-) given twice as a dump file";
    return false;
  }
  Options.DumpFiles.emplace_back(File);
  return true;
}

} // namespace

bool ParsePreviewOptions(const std::vector<std::string> &Arguments, PreviewOptions &Options,
                         std::string &Error) {
  Options = PreviewOptions{};
  // A dump option was given: bare arguments are dump files from here on.
  bool DumpsFollow = false;
  for (size_t Index = 0; Index < Arguments.size(); ++Index) {
    const std::string_view Argument = Arguments[Index];
    const bool IsOption = Argument.size() > 1 && Argument[0] == '-';
    if (!IsOption) {
      if (!DumpsFollow) {
        Error = "unexpected argument \"" + std::string(Argument) + "\" (dump files follow --dump)";
        return false;
      }
      if (!AddDumpFile(Argument, Options, Error)) {
        return false;
      }
    } else if (Argument == OPTION_ANNOTATE_LONG || Argument == OPTION_ANNOTATE_SHORT) {
      Options.Annotate = true;
    } else if (Argument == OPTION_EXPLAIN || Argument == OPTION_JSON) {
      (Argument == OPTION_EXPLAIN ? Options.Explain : Options.Json) = true;
    } else if (Argument == OPTION_PROMETHEUS) {
      Options.Prometheus = true;
    } else if (Argument == OPTION_HELP_LONG || Argument == OPTION_HELP_SHORT) {
      Options.Help = true;
    } else if (Argument == OPTION_VERSION) {
      Options.Version = true;
    } else if (Argument == OPTION_DUMP_LONG || Argument == OPTION_DUMP_SHORT) {
      if (Index + 1 == Arguments.size()) {
        Error = "option " + std::string(Argument) + " needs a dump file";
        return false;
      }
      if (!AddDumpFile(Arguments[++Index], Options, Error)) {
        return false;
      }
      DumpsFollow = true;
    } else if (StartsWith(Argument, OPTION_DUMP_LONG_ATTACHED)) {
      if (!AddDumpFile(Argument.substr(OPTION_DUMP_LONG_ATTACHED.size()), Options, Error)) {
        return false;
      }
      DumpsFollow = true;
    } else if (StartsWith(Argument, OPTION_DUMP_SHORT)) {
      if (!AddDumpFile(Argument.substr(OPTION_DUMP_SHORT.size()), Options, Error)) {
        return false;
      }
      DumpsFollow = true;
    } else {
      Error = "unknown option \"" + std::string(Argument) + "\"";
      return false;
    }
  }
  if (Options.Json && Options.Prometheus) {
    Error = "--json and --prometheus each print the whole report; give one of them";
    return false;
  }
  return true;
}

std::string PreviewUsage() {
  return "usage: rbar-survey [--annotate] [--explain] [--json | --prometheus] [--dump FILE...]\n"
         "\n"
         "Runs the Resizable BAR survey driver on this machine's PCI configuration space, or on\n"
         "dump files that `lspci -x`, `-xxx` or `-xxxx` printed (with any of -v, -vv, -vvv, -k,\n"
         "-nn, -D, -s), and prints its report. The file - is standard input:\n"
         "sudo lspci -xxxx | rbar-survey -F -\n"
         "Reading past the first 64 bytes of a function needs root: sudo rbar-survey.\n"
         "\n"
         "  -a, --annotate       name each function (DDDD:BB:DD.F vendor:device) before its\n"
         "                       lines and give each proposal's sizes in words\n"
         "      --explain        annotate, and explain each proposal: the BAR's placement,\n"
         "                       the bridge windows from the root bus down, the functions\n"
         "                       sharing the window, and whether the proposed size fits\n"
         "      --json           print the report (with --explain, the explanations too) as\n"
         "                       one JSON document\n"
         "      --prometheus     print the report (with --explain, the verdicts too) as\n"
         "                       metrics in Prometheus' text format, for node_exporter\n"
         "  -F, --dump FILE...   read dump files instead of this machine (one per -F, or\n"
         "                       all files that follow --dump)\n"
         "  -h, --help           show this text\n"
         "      --version        show the program's version\n"
         "\n"
         "The report goes to standard output, a summary and any warnings to standard error.\n"
         "Exit status: 0 report made, 1 configuration space not accessible, the driver\n"
         "misused the hosted platform or the output could not be written, 2 bad command line\n"
         "or dump file.\n";
}
