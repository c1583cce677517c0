// The console side of the report: lines fitted to the console's width, broken at spaces so
// that no number is cut, and, when paging, a pause at each full page until a key is pressed,
// so that nothing scrolls away unread.
#pragma once

#include "firmware/SimpleTextInput.h"
#include "firmware/SimpleTextOutput.h"

// The console's size when it cannot say: the text mode every console has (mode 0).
inline constexpr UINTN PAGER_DEFAULT_COLUMNS = 80;
inline constexpr UINTN PAGER_DEFAULT_ROWS = 25;
// The smallest size the pager works with; a console that says less is taken as this.
inline constexpr UINTN PAGER_MIN_COLUMNS = 40;
inline constexpr UINTN PAGER_MIN_ROWS = 4;
// Characters of one line held before it is written; a longer one is written in parts.
inline constexpr UINTN PAGER_LINE_CHARS = 512;
// Spaces before the rest of a line that did not fit the width.
inline constexpr UINTN PAGER_CONTINUATION_INDENT = 4;
// The prompt at a full page, on the console's last row, erased once a key came.
inline constexpr CHAR16 PAGER_PROMPT[] = u"-- more: any key --";

// Columns and rows of Console's current mode, the defaults when it cannot say.
struct ConsoleSize {
  UINTN Columns;
  UINTN Rows;
};
ConsoleSize QueryConsoleSize(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console);

// Starts the pager on Console (null: nothing is written) at the start of a line, with its
// current mode's size; Paging pauses at each full page for a key on Input, and stops pausing
// once Input fails (no keyboard: nothing could end a pause).
void StartPager(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input,
                bool Paging);

// Writes Text to the console, a line at a time: a line is written once its LF comes (CRs are
// dropped and each line ended by CR LF), broken at spaces to fit the width.
void PagerWrite(const CHAR16 *Text);

// Writes a line held without its LF yet, as it is.
void PagerFlush();

// Report rows written since the last pause (or the start), and pauses made.
UINTN PagerRowsSincePause();
UINTN PagerPauses();
