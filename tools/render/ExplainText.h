// The explanation of each proposal as text, and the report with it (`--explain`).
#pragma once

#include <string>
#include <vector>

#include "tools/explain/BarExplanation.h"
#include "tools/survey/PreviewRun.h"

// The explanation as text lines, each indented by two spaces: kind and placement, the path as
// a tree, the sharers and the verdict.
std::vector<std::string> ExplanationLines(const BarExplanation &Explanation);

// The annotated report (as RenderReport gives it) with each BAR line's explanation after its
// sizes in words, after the root bridges' apertures when the firmware's facts were given.
std::string RenderExplainedReport(const std::vector<ConsoleWrite> &Writes,
                                  const ExplainSources &Sources);
