// The firmware's facts a dump holds in its "@" lines (verdict/FactsLines.h), and the checks of
// a report file the boot image saved: it starts with "@rbar-survey-report 1" and ends with
// "@end", so that a file cut short is refused instead of explained from half its content.
#pragma once

#include <memory>
#include <string>

#include "verdict/Apertures.h"

struct DumpFacts {
  // Some file held firmware facts, and which.
  bool Given = false;
  std::string Source;
  std::unique_ptr<FirmwareFacts> Facts = std::make_unique<FirmwareFacts>();
  std::unique_ptr<ApertureModel> Apertures = std::make_unique<ApertureModel>();
};

// Reads the "@" lines of Text, the content of the dump Name, into Facts (and builds the
// apertures when it holds facts). False with Error "NAME:LINE: ..." for a line that does not
// parse or is out of place, "NAME: ..." for a report file without its end marker, and for
// facts in a second file.
bool ReadDumpFacts(const std::string &Text, const std::string &Name, DumpFacts &Facts,
                   std::string &Error);

// The same for the dump file at Path (standard input's text is given to ReadDumpFacts by the
// caller, who holds it).
bool ReadDumpFactsFile(const std::string &Path, DumpFacts &Facts, std::string &Error);
