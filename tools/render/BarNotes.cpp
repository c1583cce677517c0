// Notes on a reported BAR, in the engine's words, split into lines.
#include "tools/render/BarNotes.h"

#include "tools/explain/EngineViews.h"
#include "verdict/RebarEntries.h"

namespace {

// Characters of the notes on one BAR, with room to spare.
constexpr size_t NOTES_CHARS = 1024;

} // namespace

std::vector<std::string> BarNotes(const PreviewFunction &Function, size_t Nth, uint32_t Mask,
                                  bool Proposed) {
  char Text[NOTES_CHARS];
  TextBuffer Out = MakeTextBuffer(Text, sizeof Text);
  AppendBarNotes(Out, HeaderView(Function.Config, Function.Domain), Nth, Mask, Proposed);
  std::vector<std::string> Notes;
  std::string Line;
  for (size_t Index = 0; Index < Out.Length; ++Index) {
    if (Text[Index] == '\n') {
      Notes.push_back(Line);
      Line.clear();
    } else {
      Line += Text[Index];
    }
  }
  return Notes;
}
