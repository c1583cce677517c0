// Verdict lines and the summary table, from the verdict engine's words and tokens.
#include "boot/VerdictScreen.h"

#include "boot/FactsScreen.h"
#include "boot/HeaderCapture.h"
#include "boot/ReportOutput.h"
#include "verdict/SizeIndexWords.h"
#include "verdict/TextBuffer.h"

namespace {

// One proposal of the table.
struct SummaryRow {
  FunctionRead Function;
  UINT32 Numbers[BAR_LINE_NUMBERS];
  const char *Word;
};

struct Verdicts {
  FirmwareView Firmware;
  SummaryRow Rows[SUMMARY_ROWS_MAX];
  UINTN Count;
  // Proposals past SUMMARY_ROWS_MAX.
  UINTN Left;
};
constinit Verdicts State = {};

// Widths of the table's cells: address with and without its segment, IDs, "BAR n", the sizes.
constexpr UINTN ADDRESS_CHARS = 12;
constexpr UINTN SHORT_ADDRESS_CHARS = 7;
constexpr UINTN IDS_CHARS = 9;
constexpr UINTN BAR_CHARS = 5;
constexpr UINTN SIZES_CHARS = 18;
// The longest verdict word, "window-too-small".
constexpr UINTN WORD_CHARS = 16;
constexpr UINTN TABLE_LINE_CHARS = 80;
// Hex digits of the address and ID fields.
constexpr UINTN SEGMENT_DIGITS = 4;
constexpr UINTN BUS_DIGITS = 2;
constexpr UINTN DEVICE_DIGITS = 2;
constexpr UINTN FUNCTION_DIGITS = 1;
constexpr UINTN ID_DIGITS = 4;

// The function as the engine sees it: the captured header, or none (nothing to judge on).
FunctionHeader HeaderOf(const FunctionRead &Read) {
  const FunctionHeader *Found =
      FindCapturedFunction(Read.Segment, Read.Bus, Read.Device, Read.Function);
  if (Found != nullptr) {
    return *Found;
  }
  return {Read.Segment,
          static_cast<UINT8>(Read.Bus),
          static_cast<UINT8>(Read.Device),
          static_cast<UINT8>(Read.Function),
          nullptr,
          0};
}

void AppendSize(TextBuffer &Out, UINT32 Index) {
  const SizeWords Words = SizeIndexWords(Index);
  if (Words.Unit == nullptr) {
    AppendText(Out, "2^");
  }
  AppendDecimal(Out, Words.Count);
  AppendText(Out, " ");
  AppendText(Out, Words.Unit != nullptr ? Words.Unit : "MB");
}

// Pads Out with spaces to Column characters, at least one.
void PadTo(TextBuffer &Out, UINTN Column) {
  do {
    AppendText(Out, " ");
  } while (Out.Length < Column && !Out.Cut);
}

// Which cells fit Columns: the segment and the IDs go first when they do not.
struct TableShape {
  bool Segment;
  bool Ids;
};

TableShape ShapeFor(UINTN Columns) {
  const UINTN Tail = 1 + BAR_CHARS + 1 + SIZES_CHARS + 1 + WORD_CHARS;
  if (ADDRESS_CHARS + 1 + IDS_CHARS + Tail < Columns) {
    return {true, true};
  }
  if (ADDRESS_CHARS + Tail < Columns) {
    return {true, false};
  }
  return {false, false};
}

void WriteRow(const SummaryRow &Row, TableShape Shape) {
  char Line[TABLE_LINE_CHARS];
  TextBuffer Out = MakeTextBuffer(Line, sizeof(Line));
  if (Shape.Segment) {
    AppendHex(Out, Row.Function.Segment, SEGMENT_DIGITS);
    AppendText(Out, ":");
  }
  AppendHex(Out, Row.Function.Bus, BUS_DIGITS);
  AppendText(Out, ":");
  AppendHex(Out, Row.Function.Device, DEVICE_DIGITS);
  AppendText(Out, ".");
  AppendHex(Out, Row.Function.Function, FUNCTION_DIGITS);
  UINTN Column = Shape.Segment ? ADDRESS_CHARS : SHORT_ADDRESS_CHARS;
  if (Shape.Ids) {
    PadTo(Out, ++Column);
    AppendHex(Out, Row.Function.VendorId, ID_DIGITS);
    AppendText(Out, ":");
    AppendHex(Out, Row.Function.DeviceId, ID_DIGITS);
    Column += IDS_CHARS;
  }
  PadTo(Out, ++Column);
  AppendText(Out, "BAR ");
  AppendDecimal(Out, Row.Numbers[BAR_LINE_BAR]);
  Column += BAR_CHARS;
  PadTo(Out, ++Column);
  AppendSize(Out, Row.Numbers[BAR_LINE_CURRENT]);
  AppendText(Out, " -> ");
  AppendSize(Out, Row.Numbers[BAR_LINE_PROPOSED]);
  Column += SIZES_CHARS;
  PadTo(Out, ++Column);
  AppendText(Out, Row.Word);
  ReportWriteNarrowLines(Line);
}

} // namespace

void StartVerdicts(FirmwareView Firmware) {
  State.Firmware = Firmware;
  State.Count = 0;
  State.Left = 0;
}

void WriteVerdictLine(const FunctionRead &Read, const UINT32 (&Numbers)[BAR_LINE_NUMBERS]) {
  const FunctionHeader Function = HeaderOf(Read);
  const FunctionList Functions = CapturedFunctions();
  char Line[VERDICT_LINE_CHARS];
  TextBuffer Out = MakeTextBuffer(Line, sizeof(Line));
  AppendVerdictLine(Out, Functions, Function, Numbers, State.Firmware);
  ReportWriteNarrowLines(Line);
  if (State.Count == SUMMARY_ROWS_MAX) {
    ++State.Left;
    return;
  }
  SummaryRow &Row = State.Rows[State.Count++];
  Row.Function = Read;
  for (UINTN Index = 0; Index < BAR_LINE_NUMBERS; ++Index) {
    Row.Numbers[Index] = Numbers[Index];
  }
  Row.Word = VerdictWord(Functions, Function, Numbers, State.Firmware);
}

void WriteSummaryTable(UINTN Columns) {
  if (State.Count == 0) {
    return;
  }
  ReportWrite(u"Summary: each Resizable BAR, its size now -> proposed, and the verdict\n");
  const TableShape Shape = ShapeFor(Columns);
  for (UINTN Index = 0; Index < State.Count; ++Index) {
    WriteRow(State.Rows[Index], Shape);
  }
  if (State.Left > 0) {
    ReportPrint(u"... and %lu more, in the report above\n", State.Left);
  }
}
