// The verdict of one BAR line, from the functions read and the firmware's facts: what the boot
// screen prints below a BAR line's sizes, in the words of `rbar-survey --explain`.
#pragma once

#include "verdict/BarLineText.h"
#include "verdict/Verdict.h"

// The firmware's facts and their apertures, when known; both null (or Facts' map NotGiven and
// no root bridge) when not.
struct FirmwareView {
  const FirmwareFacts *Facts;
  const ApertureModel *Apertures;
};

// Fills Facts for the BAR line Numbers (BAR_LINE_BAR, ..._CURRENT, ..._PROPOSED) of Function:
// the BAR's placement, its path among Functions, and the firmware's answer on its root bus.
void GatherProposalFacts(FunctionList Functions, const FunctionHeader &Function,
                         const UINT32 (&Numbers)[BAR_LINE_NUMBERS], FirmwareView Firmware,
                         ProposalFacts &Facts);

// Appends "  verdict: " and the verdict's sentence (no line end), as `--explain` prints it.
void AppendVerdictLine(TextBuffer &Out, FunctionList Functions, const FunctionHeader &Function,
                       const UINT32 (&Numbers)[BAR_LINE_NUMBERS], FirmwareView Firmware);

// The verdict's JSON token for the same BAR line, for a summary table's verdict word.
const char *VerdictWord(FunctionList Functions, const FunctionHeader &Function,
                        const UINT32 (&Numbers)[BAR_LINE_NUMBERS], FirmwareView Firmware);
