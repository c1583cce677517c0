// The "@" lines of a dump read with the verdict engine's reader, and a report file's frame.
#include "tools/source/DumpFacts.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "verdict/FactsLines.h"

namespace {

// Where the report file's frame stands while its lines are read.
struct Frame {
  bool ReportFile = false;
  size_t EndLine = 0;
  // A fact was read.
  bool AnyFact = false;
};

// "NAME:LINE: What".
std::string LineFault(const std::string &Name, size_t Line, const std::string &What) {
  return Name + ":" + std::to_string(Line) + ": " + What;
}

// Takes one line; false with Error when it is refused.
bool TakeLine(std::string_view Line, size_t Number, const std::string &Name, FactsReader &Reader,
              Frame &Seen, std::string &Error) {
  if (Seen.EndLine != 0 && !Line.empty() && Line != "\r") {
    Error = LineFault(Name, Number, "a line after the report file's end marker \"@end\"");
    return false;
  }
  switch (ReadFactsLine(Reader, Line.data(), Line.size())) {
  case FactsLineKind::NotFacts:
    return true;
  case FactsLineKind::Fact:
    Seen.AnyFact = true;
    return true;
  case FactsLineKind::ReportStart:
    if (Number == 1) {
      Seen.ReportFile = true;
      return true;
    }
    Error = LineFault(Name, Number, "\"@rbar-survey-report\" is a report file's first line only");
    return false;
  case FactsLineKind::ReportEnd:
    if (Seen.ReportFile) {
      Seen.EndLine = Number;
      return true;
    }
    Error = LineFault(Name, Number, "\"@end\" outside a report file");
    return false;
  case FactsLineKind::Malformed:
    break;
  }
  std::string_view Shown = Line;
  if (!Shown.empty() && Shown.back() == '\r') {
    Shown.remove_suffix(1);
  }
  Error = LineFault(Name, Number,
                    "firmware facts line not understood: \"" + std::string(Shown) +
                        "\" (see rbar-survey(1), FIRMWARE FACTS)");
  return false;
}

} // namespace

namespace {

// Reads the lines of Input, the dump Name, one at a time (the file is never held whole).
bool ReadFactsStream(std::istream &Input, const std::string &Name, DumpFacts &Facts,
                     std::string &Error) {
  auto Read = std::make_unique<FirmwareFacts>();
  FactsReader Reader = StartFactsReader(*Read);
  Frame Seen;
  size_t Number = 0;
  std::string Line;
  while (std::getline(Input, Line)) {
    ++Number;
    if (Line.empty() || (Line.front() != '@' && Seen.EndLine == 0)) {
      continue;
    }
    if (!TakeLine(Line, Number, Name, Reader, Seen, Error)) {
      return false;
    }
  }
  if (Seen.ReportFile && Seen.EndLine == 0) {
    Error = Name + ": the report file has no end marker line \"@end\": it was not saved whole";
    return false;
  }
  if (!Seen.AnyFact) {
    return true;
  }
  if (Facts.Given) {
    Error = Name + ": firmware facts in a second file (" + Facts.Source +
            " holds them already): give one machine's files";
    return false;
  }
  Facts.Given = true;
  Facts.Source = Name;
  Facts.Facts = std::move(Read);
  BuildApertures(*Facts.Facts, *Facts.Apertures);
  return true;
}

} // namespace

bool ReadDumpFacts(const std::string &Text, const std::string &Name, DumpFacts &Facts,
                   std::string &Error) {
  std::istringstream Input(Text);
  return ReadFactsStream(Input, Name, Facts, Error);
}

bool ReadDumpFactsFile(const std::string &Path, DumpFacts &Facts, std::string &Error) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    Error = Path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  return ReadFactsStream(File, Path, Facts, Error);
}
