// The annotated report's notes on a reported BAR, in the verdict engine's words
// (verdict/ReportNotes.h): nothing to propose, and the driver's deliberate differences from
// the capability as read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/source/PreviewImage.h"

// The notes on the Nth "RBarSizes Mask" line (from 0) of Function's report; Proposed when a
// BAR line follows it. None when the host-side decoding of the capability does not find that
// line's BAR (its mask differs).
std::vector<std::string> BarNotes(const PreviewFunction &Function, size_t Nth, uint32_t Mask,
                                  bool Proposed);
