// The command line of rbar-survey.
#pragma once

#include <string>
#include <vector>

// The name messages start with.
inline constexpr const char *PREVIEW_PROGRAM = "rbar-survey";

// The dump file name that stands for standard input, and what messages call it.
inline constexpr const char *PREVIEW_STDIN_ARGUMENT = "-";
inline constexpr const char *PREVIEW_STDIN_NAME = "<stdin>";

// Exit statuses: the report was made; the configuration space could not be read or the driver
// misused the hosted platform; the command line or a dump file is wrong.
inline constexpr int PREVIEW_EXIT_OK = 0;
inline constexpr int PREVIEW_EXIT_FAILURE = 1;
inline constexpr int PREVIEW_EXIT_USAGE = 2;

struct PreviewOptions {
  // Show each function's address and IDs, and the BAR sizes in words.
  bool Annotate = false;
  // Annotate, and explain each proposal: the BAR's placement, the bridge windows above it and
  // whether the proposed size fits.
  bool Explain = false;
  // Print the report as one JSON document instead of text.
  bool Json = false;
  // Print the report as Prometheus metrics instead of text.
  bool Prometheus = false;
  // Print the usage and stop.
  bool Help = false;
  // Print the program's name and version and stop.
  bool Version = false;
  // Dump files to read instead of this machine's configuration space, in the order given.
  std::vector<std::string> DumpFiles;
};

// Parses the arguments after the program name into Options. On a fault returns false and sets
// Error to what is wrong.
bool ParsePreviewOptions(const std::vector<std::string> &Arguments, PreviewOptions &Options,
                         std::string &Error);

// The usage text, ending in a line end.
std::string PreviewUsage();
