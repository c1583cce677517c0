// The verdicts on the boot screen: a verdict line below each BAR line's sizes, in the words of
// `rbar-survey --explain`, and after the report a summary table of every proposal, one line
// each, fitted to the console's width.
#pragma once

#include "boot/RootBridgeRecorder.h"
#include "verdict/BarLineText.h"
#include "verdict/VerdictLine.h"

// Proposals the summary table keeps; those after them are counted in its last line.
inline constexpr UINTN SUMMARY_ROWS_MAX = 64;
// Characters of a verdict line, its terminator included.
inline constexpr UINTN VERDICT_LINE_CHARS = 512;

// Starts a report: no proposal kept, and the firmware's facts the verdicts use.
void StartVerdicts(FirmwareView Firmware);

// Writes the verdict line of the BAR line Numbers of the function Read names, judged on the
// captured headers (HeaderCapture.h), and keeps its summary row.
void WriteVerdictLine(const FunctionRead &Read, const UINT32 (&Numbers)[BAR_LINE_NUMBERS]);

// Writes the summary table of the proposals kept, its columns chosen to fit Columns; nothing
// when there was no proposal.
void WriteSummaryTable(UINTN Columns);
