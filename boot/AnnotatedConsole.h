// The annotated report on the firmware console: a text output protocol in front of ConOut that
// passes the survey's lines through unchanged and adds, as rbar-survey --annotate does, a line
// "SSSS:BB:DD.F vvvv:dddd" before the lines of each function and, after each BAR line, the
// current and proposed size in words ("  256 MB -> 8 GB") and the verdict on the proposal
// (VerdictScreen.h).
#pragma once

#include "firmware/SystemTable.h"

// Copies of the system table and boot services the survey runs on: ConOut is the annotating
// console in front of Real's, and root bridges come through the recorder (RootBridgeRecorder.h).
struct AnnotatingTables {
  EFI_SYSTEM_TABLE System;
  EFI_BOOT_SERVICES BootServices;
};

// Fills Tables from Real and returns the system table to hand to the survey. The annotating
// console writes through the report output (ReportOutput.h) when Real has a ConOut (none:
// nothing is written).
EFI_SYSTEM_TABLE *AnnotatingSystemTable(const EFI_SYSTEM_TABLE &Real, AnnotatingTables &Tables);

// Ends the annotation once the survey is done: the notes of a last RBarSizes line that no BAR
// line followed (RebarNotes.h).
void EndAnnotation();
