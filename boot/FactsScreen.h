// The lines before the report: the version, the firmware's facts in words, and each root
// bridge's memory apertures in words (from the verdict engine), so that what the firmware setup
// decides is on the screen before the proposals it decides.
#pragma once

#include "boot/FirmwareQueries.h"
#include "verdict/Apertures.h"

// Characters of one line of words from the verdict engine, its terminator included.
inline constexpr UINTN WORDS_LINE_CHARS = 512;

// Writes Text (narrow ASCII, lines separated by LF, no final line end) through ReportWrite,
// widened, each line ended.
void ReportWriteNarrowLines(const char *Text);

// Writes the version line, Platform's facts and, for each root bridge of Facts, its apertures
// in words (Model built from Facts), then an empty line.
void WriteFactsScreen(const PlatformFacts &Platform, const FirmwareFacts &Facts,
                      const ApertureModel &Model);
