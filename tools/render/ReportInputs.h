// What the document renderers (JSON, metrics) are given besides the run: the image and its
// facts, the explanation's sources when explanations are wanted, and the messages standard error
// gets.
#pragma once

#include <string>
#include <vector>

#include "tools/explain/BarExplanation.h"
#include "tools/source/PreviewImage.h"
#include "tools/survey/PreviewRun.h"
#include "tools/survey/ReadCompleteness.h"
#include "tools/survey/SurveyFacts.h"

struct ReportInputs {
  const PreviewRun *Run = nullptr;
  const PreviewImage *Image = nullptr;
  // What the run found, gathered once from Run and Image (GatherSurveyFacts).
  const SurveyFacts *Survey = nullptr;
  // Explanations are added when set.
  const ExplainSources *Explain = nullptr;
  std::vector<ShortFunction> Short;
  // The summary line and every other message, as printed without the program name.
  std::string Summary;
  std::vector<std::string> Warnings;
};
