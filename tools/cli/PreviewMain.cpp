// rbar-survey: the Resizable BAR survey driver run on the host, over this machine's PCI
// configuration space or over lspci dump files. The report goes to standard output, a summary
// and every warning to standard error.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tools/cli/PreviewOptions.h"
#include "tools/cli/PreviewVersion.h"
#include "tools/explain/BarExplanation.h"
#include "tools/render/ExplainText.h"
#include "tools/render/JsonReport.h"
#include "tools/render/MetricsReport.h"
#include "tools/render/TextReport.h"
#include "tools/source/DumpFacts.h"
#include "tools/source/LibpciImage.h"
#include "tools/survey/PreviewRun.h"
#include "tools/survey/ReadCompleteness.h"
#include "tools/survey/SurveyFacts.h"

namespace {

// The effective user ID of root.
constexpr uid_t ROOT_USER_ID = 0;

void PrintMessage(const std::string &Line) {
  std::fprintf(stderr, "%s: %s\n", PREVIEW_PROGRAM, Line.c_str());
}

// Writes Text to standard output and flushes it; false after naming the fault on standard error.
bool WriteOutput(const std::string &Text) {
  errno = 0;
  if (std::fwrite(Text.data(), 1, Text.size(), stdout) == Text.size() && std::fflush(stdout) == 0) {
    return true;
  }
  PrintMessage(std::string("cannot write to standard output: ") +
               std::strerror(errno != 0 ? errno : EIO));
  return false;
}

// Whether standard output is an open descriptor. When it is closed, the next file opened would
// take its number and receive the report, so the run stops before opening anything.
bool StandardOutputOpen() {
  if (fcntl(STDOUT_FILENO, F_GETFD) >= 0) {
    return true;
  }
  PrintMessage(std::string("cannot write to standard output: ") + std::strerror(errno));
  return false;
}

// "1 root bridge" / "2 root bridges".
std::string Counted(size_t Count, const char *Noun) {
  return std::to_string(Count) + " " + Noun + (Count == 1 ? "" : "s");
}

// The summary line: bridges, functions scanned and with Resizable BAR, the driver's reads.
std::string Summary(const SurveyFacts &Survey) {
  return Counted(Survey.RootBridges, "root bridge") + ", " +
         Counted(Survey.FunctionsScanned, "function") + " scanned, " +
         std::to_string(Survey.FunctionsWithRebar) + " with Resizable BAR, " +
         Counted(Survey.ConfigurationReads, "configuration read");
}

// The command line as given, to repeat it with sudo.
std::string CommandLine(int Count, char **Arguments) {
  std::string Line = Arguments[0];
  for (int Index = 1; Index < Count; ++Index) {
    Line += " ";
    Line += Arguments[Index];
  }
  return Line;
}

// Reads the preview image from the dump files or from this machine, and the firmware's facts a
// dump holds; false after naming a fault. A fault of the facts (a report file cut short among
// them) is named before any fault of the dump.
bool ReadImage(const PreviewOptions &Options, PreviewImage &Image, DumpFacts &Facts) {
  if (Options.DumpFiles.empty()) {
    std::vector<std::string> Warnings;
    ReadMachineImage(Image, Warnings);
    for (const std::string &Warning : Warnings) {
      PrintMessage(Warning);
    }
    if (Image.empty()) {
      PrintMessage("libpci finds no PCI function on this machine");
    }
    return true;
  }
  for (const std::string &File : Options.DumpFiles) {
    PreviewImage Read;
    std::string Error;
    std::string StdinText;
    const bool Parsed = ReadDumpImage(File, Read, Error, &StdinText);
    std::string FactsError;
    const bool FactsRead = File == PREVIEW_STDIN_ARGUMENT
                               ? ReadDumpFacts(StdinText, PREVIEW_STDIN_NAME, Facts, FactsError)
                               : ReadDumpFactsFile(File, Facts, FactsError);
    if (!FactsRead) {
      PrintMessage(FactsError);
      return false;
    }
    if (!Parsed || !MergeIntoImage(Image, std::move(Read), Error)) {
      PrintMessage(Error);
      return false;
    }
  }
  return true;
}

} // namespace

int main(int Count, char **Arguments) {
  const std::vector<std::string> Given(Arguments + 1, Arguments + Count);
  PreviewOptions Options;
  std::string Error;
  if (!ParsePreviewOptions(Given, Options, Error)) {
    PrintMessage(Error);
    std::fprintf(stderr, "Try '%s --help'.\n", PREVIEW_PROGRAM);
    return PREVIEW_EXIT_USAGE;
  }
  if (!StandardOutputOpen()) {
    return PREVIEW_EXIT_FAILURE;
  }
  if (Options.Help || Options.Version) {
    const std::string Text =
        Options.Help ? PreviewUsage() : std::string(PREVIEW_PROGRAM) + " " + PREVIEW_VERSION + "\n";
    return WriteOutput(Text) ? PREVIEW_EXIT_OK : PREVIEW_EXIT_FAILURE;
  }

  PreviewImage Image;
  DumpFacts Facts;
  if (!ReadImage(Options, Image, Facts)) {
    return PREVIEW_EXIT_USAGE;
  }

  const PreviewRun Run = RunPreview(Image);
  const SurveyFacts Survey = GatherSurveyFacts(Run, Image);
  const std::string SummaryLine = Summary(Survey);
  const std::vector<ShortFunction> Short = FindShortFunctions(Image, Run.Facts);
  const std::vector<std::string> ShortLines =
      Options.DumpFiles.empty() ? DescribeShortMachineFunctions(Short, geteuid() == ROOT_USER_ID,
                                                                CommandLine(Count, Arguments))
                                : DescribeShortDumpFunctions(Short);
  std::vector<std::string> Faults;
  if (Run.EntryStatus != EFI_SUCCESS) {
    Faults.push_back("the driver's entry point returned status " + std::to_string(Run.EntryStatus));
  }
  for (const std::string &Violation : Run.Violations) {
    Faults.push_back("the driver misused the hosted platform: " + Violation);
  }

  // On this machine Linux adds what configuration space does not show: BAR sizes, and as root
  // the root buses' ranges.
  ExplainSources Sources;
  Sources.Image = &Image;
  Sources.Headers = MakeImageHeaders(Image);
  if (Facts.Given) {
    Sources.Firmware = Facts.Facts.get();
    Sources.Apertures = Facts.Apertures.get();
  }
  MachineBarSizes Sizes;
  if (Options.Explain && Options.DumpFiles.empty()) {
    Sizes = ReadMachineBarSizes();
    Sources.Sizes = &Sizes;
    if (geteuid() == ROOT_USER_ID) {
      Sources.BusWindows = ReadIomemBusWindows(Sources.BusWindowsKnown);
    }
  }
  std::string Report;
  if (Options.Json || Options.Prometheus) {
    std::vector<std::string> Warnings = ShortLines;
    Warnings.insert(Warnings.end(), Faults.begin(), Faults.end());
    const ReportInputs Inputs{&Run,  &Image,      &Survey, Options.Explain ? &Sources : nullptr,
                              Short, SummaryLine, Warnings};
    Report = Options.Json ? RenderJsonReport(Inputs)
                          : RenderMetricsReport(Inputs, static_cast<int64_t>(std::time(nullptr)));
  } else if (Options.Explain) {
    Report = RenderExplainedReport(Run.Writes, Sources);
  } else {
    Report = RenderReport(Run.Writes, Image, Options.Annotate);
  }
  const bool Written = WriteOutput(Report);

  for (const std::string &Line : ShortLines) {
    PrintMessage(Line);
  }
  PrintMessage(SummaryLine);
  for (const std::string &Line : Faults) {
    PrintMessage(Line);
  }
  return Written && Run.Violations.empty() && Run.EntryStatus == EFI_SUCCESS ? PREVIEW_EXIT_OK
                                                                             : PREVIEW_EXIT_FAILURE;
}
