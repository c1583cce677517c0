// The report as one JSON document (docs/json.md): every function of the image with its report
// lines and the BARs they describe, the summary and the warnings, and with --explain each
// proposal's explanation.
#pragma once

#include <string>
#include <vector>

#include "tools/ExplainReport.h"
#include "tools/PreviewImage.h"
#include "tools/PreviewRun.h"
#include "tools/ReadCompleteness.h"

// The version of the document's layout; it grows when a member changes meaning or goes.
inline constexpr int JSON_SCHEMA_VERSION = 1;

// What goes into the document besides the run: the messages standard error gets.
struct JsonReportInputs {
  const PreviewRun *Run = nullptr;
  const PreviewImage *Image = nullptr;
  // Explanations are added when set.
  const ExplainSources *Explain = nullptr;
  std::vector<ShortFunction> Short;
  // The summary line and every other message, as printed without the program name.
  std::string Summary;
  std::vector<std::string> Warnings;
};

// The document, indented, ending in a line end.
std::string RenderJsonReport(const JsonReportInputs &Inputs);
