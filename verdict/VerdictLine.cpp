// One BAR line's verdict for the boot screen and the tool alike: the facts gathered from the
// functions read and the firmware's apertures, then the rules and their words.
#include "verdict/VerdictLine.h"

#include "verdict/SizeIndexWords.h"

namespace {

// The BAR's current range from its placement and size; Limit below Base when unplaced.
AddressRange CurrentRange(const BarPlacement &Placement, UINT64 Size) {
  if (Placement.Address == 0 || Size == 0 || Placement.Address > UINT64_MAX - (Size - 1)) {
    return {1, 0};
  }
  return {Placement.Address, Placement.Address + (Size - 1)};
}

// True when Firmware holds facts to judge by.
bool HasFirmware(FirmwareView Firmware) {
  return Firmware.Facts != nullptr && Firmware.Apertures != nullptr;
}

} // namespace

void GatherProposalFacts(FunctionList Functions, const FunctionHeader &Function,
                         const UINT32 (&Numbers)[BAR_LINE_NUMBERS], FirmwareView Firmware,
                         ProposalFacts &Facts) {
  Facts.Bar = Numbers[BAR_LINE_BAR];
  Facts.Placement = DecodeBar(Function, Facts.Bar);
  Facts.Size = SizeIndexToBytes(Numbers[BAR_LINE_PROPOSED]);
  Facts.CurrentSize = SizeIndexToBytes(Numbers[BAR_LINE_CURRENT]);
  Facts.Path.Count = 0;
  if (IsMemoryBar(Facts.Placement.Kind)) {
    FindBridgePath(Functions, Function, Facts.Placement.Prefetchable, Facts.Path);
  }
  Facts.Domain = Function.Segment;
  Facts.RootBus = RootBusOf(Facts.Path, Function);
  Facts.Firmware = {ApertureAnswer::NotGiven, nullptr, 0};
  if (HasFirmware(Firmware) && Facts.Path.Count == 0) {
    const ApertureQuestion Question = {Facts.Domain, Facts.RootBus, Facts.Size,
                                       Facts.Placement.Kind == BarKind::Memory64,
                                       CurrentRange(Facts.Placement, Facts.CurrentSize)};
    Facts.Firmware = JudgeAperture(*Firmware.Facts, *Firmware.Apertures, Question);
  }
}

void AppendVerdictLine(TextBuffer &Out, FunctionList Functions, const FunctionHeader &Function,
                       const UINT32 (&Numbers)[BAR_LINE_NUMBERS], FirmwareView Firmware) {
  ProposalFacts Facts;
  GatherProposalFacts(Functions, Function, Numbers, Firmware, Facts);
  AppendText(Out, "  verdict: ");
  AppendVerdictText(Out, JudgeProposal(Facts), Facts);
}

const char *VerdictWord(FunctionList Functions, const FunctionHeader &Function,
                        const UINT32 (&Numbers)[BAR_LINE_NUMBERS], FirmwareView Firmware) {
  ProposalFacts Facts;
  GatherProposalFacts(Functions, Function, Numbers, Firmware, Facts);
  return VerdictToken(JudgeProposal(Facts).Kind);
}
