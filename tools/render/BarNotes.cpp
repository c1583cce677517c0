// Notes on a reported BAR, from the capability entry the driver read it from.
#include "tools/render/BarNotes.h"

#include "driver/RebarRegisters.h"
#include "tools/survey/RebarEntries.h"
#include "verdict/ReportNotes.h"

namespace {

// Characters of the longest note, with room to spare.
constexpr size_t NOTE_CHARS = 256;

// The note that Append writes.
template <typename Writer>
std::string Note(Writer Append) {
  char Text[NOTE_CHARS];
  TextBuffer Out = MakeTextBuffer(Text, sizeof Text);
  Append(Out);
  return std::string(Text, Out.Length);
}

} // namespace

std::vector<std::string> BarNotes(const PreviewFunction &Function, size_t Nth, uint32_t Mask,
                                  bool Proposed) {
  std::vector<std::string> Notes;
  const std::vector<RebarEntry> Entries = DecodeRebarEntries(Function.Config);
  if (Nth >= Entries.size() || Entries[Nth].Mask != Mask) {
    return Notes;
  }
  const RebarEntry &Entry = Entries[Nth];
  if (!Proposed) {
    Notes.push_back(Note([&](TextBuffer &Out) {
      AppendNothingToPropose(Out, Entry.Bar, Entry.Mask, Entry.Current);
    }));
  }
  const uint32_t Advertised =
      (Entry.Capability & REBAR_CAPABILITY_SIZES_MASK) >> REBAR_CAPABILITY_SIZES_SHIFT;
  if (Advertised != Entry.Mask) {
    Notes.push_back(
        Note([&](TextBuffer &Out) { AppendWidenedSizes(Out, Entry.Bar, Advertised, Entry.Mask); }));
  }
  if (const uint32_t LeftOut = SizesLeftOut(Entry.Capability); LeftOut != 0) {
    Notes.push_back(Note([&](TextBuffer &Out) { AppendSizesLeftOut(Out, Entry.Bar, LeftOut); }));
  }
  return Notes;
}
