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
// With Annotate, each "RBarSizes" line is followed by its notes (BarNotes) after its BAR line's
// sizes, or at once when no BAR line follows; and the report ends with a line for each function
// the driver did not scan because function 0 of its device is not multi-function.
std::string RenderReport(const std::vector<ConsoleWrite> &Writes, const PreviewImage &Image,
                         bool Annotate, const BarLineNotes &Notes = {});

// True when Function is function 1 to 7 of a device whose function 0 is in Image and not
// multi-function: the driver reads no further function of such a device.
bool SkippedAfterSingleFunction(const PreviewImage &Image, const PreviewFunction &Function);
