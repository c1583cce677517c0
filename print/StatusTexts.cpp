// Selection of a status value's row in the status text tables, and compile-time checks that
// every row fits its fixed field with its terminator.
#include "print/StatusTexts.h"

// Rarely used: every function of this file is built for size.
#pragma clang attribute push(__attribute__((minsize)), apply_to = function)

namespace {

// Length of a NUL-terminated text inside a field of FieldSize bytes, or FieldSize when the
// field holds no terminator.
constexpr UINTN FieldTextLength(const CHAR8 *Field, UINTN FieldSize) {
  UINTN Length = 0;
  while (Length < FieldSize && Field[Length] != '\0') {
    ++Length;
  }
  return Length;
}

// Longest text of a table; FieldSize when some row lacks its terminator.
template <UINTN Rows, UINTN FieldSize>
constexpr UINTN LongestText(const CHAR8 (&Table)[Rows][FieldSize]) {
  UINTN Longest = 0;
  for (UINTN Row = 0; Row < Rows; ++Row) {
    const UINTN Length = FieldTextLength(Table[Row], FieldSize);
    Longest = Length > Longest ? Length : Longest;
  }
  return Longest;
}

// The longest text of each table leaves exactly its terminator in the field.
static_assert(LongestText(SuccessWarningTexts) == SUCCESS_WARNING_FIELD - 1);
static_assert(LongestText(ErrorTexts) == ERROR_FIELD - 1);

} // namespace

// Errors select row code - 1 of ErrorTexts for codes 1 to ERROR_ROWS; success and warnings
// select row Status of SuccessWarningTexts for values below SUCCESS_WARNING_ROWS.
const CHAR8 *StatusText(EFI_STATUS Status) {
  if (EfiIsError(Status)) {
    const UINT64 Code = Status & ~EFI_ERROR_BIT;
    if (Code >= 1 && Code <= ERROR_ROWS) {
      return ErrorTexts[Code - 1];
    }
    return nullptr;
  }
  if (Status < SUCCESS_WARNING_ROWS) {
    return SuccessWarningTexts[Status];
  }
  return nullptr;
}

#pragma clang attribute pop
