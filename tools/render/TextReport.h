// The report as rbar-survey prints it: the driver's lines as they are, or annotated with the
// function each group of lines belongs to and the proposed sizes in words.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/source/PreviewImage.h"
#include "tools/survey/PreviewRun.h"
#include "tools/survey/ReportLines.h"

// A BAR size index in words: index n is 1 MB x 2^n, so 0 is "1 MB", 8 "256 MB", 13 "8 GB".
std::string SizeIndexText(uint32_t Index);

// Lines to print below the sizes line of a BAR line that a function's scan wrote.
using BarLineNotes = std::function<std::vector<std::string>(const FunctionKey &, const BarLine &)>;

// The text of Writes in order. With Annotate, a line "DDDD:BB:DD.F vvvv:dddd" stands before
// each function's lines, and each BAR line is followed by "  CURRENT -> PROPOSED" in words,
// then by what Notes gives for it, if anything.
std::string RenderReport(const std::vector<ConsoleWrite> &Writes, const PreviewImage &Image,
                         bool Annotate, const BarLineNotes &Notes = {});
