// The engine's decoding of the Resizable BAR capability over a function's bytes.
#include "tools/survey/RebarEntries.h"

std::vector<RebarEntry> DecodeRebarEntries(const ConfigFunction &Function) {
  const FunctionHeader View = {Function.Segment,  Function.Bus,          Function.Device,
                               Function.Function, Function.Bytes.data(), Function.Bytes.size()};
  RebarEntry Entries[MAX_REBAR_ENTRIES];
  const UINTN Count = DecodeRebarEntries(View, Entries);
  return std::vector<RebarEntry>(Entries, Entries + Count);
}
