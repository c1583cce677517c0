// The firmware's facts in words and as JSON, from the verdict engine's records.
#include "tools/render/FirmwareText.h"

namespace {

using json = nlohmann::ordered_json;

// Characters of the longest aperture text, with room to spare.
constexpr size_t APERTURE_TEXT_CHARS = 2048;

// Splits Text at line feeds.
void AddLines(const char *Text, std::vector<std::string> &Lines) {
  std::string Line;
  for (const char *At = Text; *At != '\0'; ++At) {
    if (*At == '\n') {
      Lines.push_back(Line);
      Line.clear();
    } else {
      Line += *At;
    }
  }
  Lines.push_back(Line);
}

// "read", "absent", "unknown" or "not-given".
const char *MapStateToken(MemoryMapState State) {
  switch (State) {
  case MemoryMapState::Read:
    return "read";
  case MemoryMapState::Absent:
    return "absent";
  case MemoryMapState::Unknown:
    return "unknown";
  case MemoryMapState::NotGiven:
    break;
  }
  return "not-given";
}

} // namespace

std::vector<std::string> FirmwareApertureLines(const FirmwareFacts &Facts,
                                               const ApertureModel &Model) {
  std::vector<std::string> Lines;
  char Text[APERTURE_TEXT_CHARS];
  for (UINTN Index = 0; Index < Facts.RootBridgeCount; ++Index) {
    TextBuffer Out = MakeTextBuffer(Text, sizeof Text);
    AppendRootBridgeApertures(Out, Facts, Model, Index);
    AddLines(Text, Lines);
  }
  TextBuffer Out = MakeTextBuffer(Text, sizeof Text);
  if (AppendUnattributedApertures(Out, Model)) {
    AddLines(Text, Lines);
  }
  return Lines;
}

json FirmwareJson(const FirmwareFacts &Facts, const ApertureModel &Model) {
  json Bridges = json::array();
  for (UINTN Index = 0; Index < Facts.RootBridgeCount; ++Index) {
    const RootBridgeFacts &Bridge = Facts.RootBridges[Index];
    json Allocated = json::array();
    for (UINTN Range = 0; Range < Bridge.AllocatedCount; ++Range) {
      const AllocatedRange &Placed = Bridge.Allocated[Range];
      Allocated.push_back({{"base", Placed.Range.Base},
                           {"limit", Placed.Range.Limit},
                           {"mem64", Placed.Mem64},
                           {"prefetchable", Placed.Prefetchable}});
    }
    Bridges.push_back({{"segment", Bridge.Segment},
                       {"bus_first", Bridge.BusFirst},
                       {"bus_last", Bridge.BusLast},
                       {"known", Bridge.Known},
                       {"allocated", std::move(Allocated)}});
  }
  json Apertures = json::array();
  for (UINTN Index = 0; Index < Model.RunCount; ++Index) {
    const Aperture &Run = Model.Runs[Index];
    Apertures.push_back(
        {{"base", Run.Range.Base},
         {"limit", Run.Range.Limit},
         {"free", Run.Free},
         {"in_use", Run.InUse},
         {"root_bridge", Run.Owner == OWNER_NOT_SAID ? json(nullptr) : json(Run.Owner)}});
  }
  return {{"root_bridges", std::move(Bridges)},
          {"memory_space_map", MapStateToken(Facts.MemoryMap)},
          {"apertures", std::move(Apertures)},
          {"text", FirmwareApertureLines(Facts, Model)}};
}

json FirmwareAnswerJson(const BarExplanation &Explanation) {
  const ApertureVerdict &Answer = Explanation.Facts.Firmware;
  if (Answer.Answer == ApertureAnswer::NotGiven) {
    return nullptr;
  }
  char Text[APERTURE_TEXT_CHARS];
  TextBuffer Out = MakeTextBuffer(Text, sizeof Text);
  AppendApertureAnswer(Out, Answer, Explanation.Facts.Size);
  return {{"answer", ApertureAnswerToken(Answer.Answer)}, {"text", Text}};
}
