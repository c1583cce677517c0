// The report as one JSON document (docs/json.md): every function of the image with its report
// lines and the BARs they describe, the summary and the warnings, and with --explain each
// proposal's explanation.
#pragma once

#include <string>

#include "tools/render/ReportInputs.h"

// The version of the document's layout; it grows when a member changes meaning or goes.
inline constexpr int JSON_SCHEMA_VERSION = 1;

// The document, indented, ending in a line end.
std::string RenderJsonReport(const ReportInputs &Inputs);
