// The pager: a line buffer, the width it is broken to, and the count of rows since the person
// last pressed a key.
#include "boot/ConsolePager.h"

#include "boot/BootCountdown.h"

namespace {

struct Pager {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input;
  bool Paging;
  ConsoleSize Size;
  // The line written so far, without its end.
  CHAR16 Line[PAGER_LINE_CHARS];
  UINTN Length;
  UINTN RowsSincePause;
  UINTN Pauses;
};
constinit Pager State = {};

// A row of text: the indent, at most a line of characters, CR LF and the terminator.
constexpr UINTN ROW_CHARS = PAGER_CONTINUATION_INDENT + PAGER_LINE_CHARS + 3;
constexpr UINTN PROMPT_CHARS = sizeof(PAGER_PROMPT) / sizeof(CHAR16) - 1;

void Output(const CHAR16 *Text) {
  if (State.Console != nullptr) {
    State.Console->OutputString(State.Console, Text);
  }
}

// Shows the prompt and waits for a key; the prompt is then blanked out and the cursor put back
// at the start of its row, where the report goes on.
void Pause() {
  Output(PAGER_PROMPT);
  const bool KeyCame = AwaitKeystroke(State.Input) == WaitEnd::KeyPressed;
  CHAR16 Erase[PROMPT_CHARS + 3];
  Erase[0] = u'\r';
  for (UINTN Index = 1; Index <= PROMPT_CHARS; ++Index) {
    Erase[Index] = u' ';
  }
  Erase[PROMPT_CHARS + 1] = u'\r';
  Erase[PROMPT_CHARS + 2] = u'\0';
  Output(Erase);
  State.RowsSincePause = 0;
  ++State.Pauses;
  State.Paging = KeyCame;
}

// Writes one row: Indent spaces and Count characters of Chars, then CR LF when EndsRow. A full
// page (all rows but the prompt's) is paused at first.
void WriteRow(UINTN Indent, const CHAR16 *Chars, UINTN Count, bool EndsRow) {
  if (State.Paging && State.RowsSincePause + 1 >= State.Size.Rows) {
    Pause();
  }
  CHAR16 Row[ROW_CHARS];
  UINTN Out = 0;
  for (UINTN Index = 0; Index < Indent; ++Index) {
    Row[Out++] = u' ';
  }
  for (UINTN Index = 0; Index < Count; ++Index) {
    Row[Out++] = Chars[Index];
  }
  if (EndsRow) {
    Row[Out++] = u'\r';
    Row[Out++] = u'\n';
    ++State.RowsSincePause;
  }
  Row[Out] = u'\0';
  Output(Row);
}

// Where a part of at most Room characters of Chars[Start..End) ends: before the last space that
// leaves a part, or at Room when there is no space to break at.
UINTN BreakPoint(const CHAR16 *Chars, UINTN Start, UINTN End, UINTN Room) {
  for (UINTN Cut = Start + Room; Cut > Start; --Cut) {
    if (Cut < End && Chars[Cut] == u' ') {
      return Cut;
    }
  }
  return Start + Room;
}

// Writes the held line, broken to the width; the last column stays free, as a console wraps
// the cursor on its own there.
void WriteHeldLine(bool EndsRow) {
  const UINTN Width = State.Size.Columns - 1;
  UINTN Start = 0;
  UINTN Indent = 0;
  while (State.Length - Start + Indent > Width) {
    const UINTN Cut = BreakPoint(State.Line, Start, State.Length, Width - Indent);
    WriteRow(Indent, State.Line + Start, Cut - Start, true);
    Start = Cut;
    while (Start < State.Length && State.Line[Start] == u' ') {
      ++Start;
    }
    Indent = PAGER_CONTINUATION_INDENT;
  }
  WriteRow(Indent, State.Line + Start, State.Length - Start, EndsRow);
  State.Length = 0;
}

} // namespace

ConsoleSize QueryConsoleSize(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console) {
  ConsoleSize Size = {PAGER_DEFAULT_COLUMNS, PAGER_DEFAULT_ROWS};
  if (Console == nullptr || Console->Mode == nullptr || Console->QueryMode == nullptr) {
    return Size;
  }
  UINTN Columns = 0;
  UINTN Rows = 0;
  const auto Mode = static_cast<UINTN>(Console->Mode->Mode);
  if (!EfiIsError(Console->QueryMode(Console, Mode, &Columns, &Rows))) {
    Size.Columns = Columns < PAGER_MIN_COLUMNS ? PAGER_MIN_COLUMNS : Columns;
    Size.Rows = Rows < PAGER_MIN_ROWS ? PAGER_MIN_ROWS : Rows;
  }
  return Size;
}

void StartPager(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Input,
                bool Paging) {
  State.Console = Console;
  State.Input = Input;
  State.Paging = Paging && Input != nullptr;
  State.Size = QueryConsoleSize(Console);
  State.Length = 0;
  State.RowsSincePause = 0;
  State.Pauses = 0;
}

void PagerWrite(const CHAR16 *Text) {
  for (const CHAR16 *Char = Text; *Char != u'\0'; ++Char) {
    if (*Char == u'\n') {
      WriteHeldLine(true);
    } else if (*Char != u'\r') {
      if (State.Length == PAGER_LINE_CHARS) {
        WriteHeldLine(true);
      }
      State.Line[State.Length++] = *Char;
    }
  }
}

void PagerFlush() {
  if (State.Length > 0) {
    WriteHeldLine(false);
  }
}

UINTN PagerRowsSincePause() {
  return State.RowsSincePause;
}

UINTN PagerPauses() {
  return State.Pauses;
}
