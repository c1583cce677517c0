// Texts of status values, as the "r" conversion prints them: one fixed-size row per value, a
// NUL-terminated narrow text padded with NUL bytes.
#pragma once

#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

// Rows of SuccessWarningTexts: success (0) and the warnings 1 to 5.
inline constexpr UINTN SUCCESS_WARNING_ROWS = 6;
inline constexpr UINTN SUCCESS_WARNING_FIELD = 25;
// Rows of ErrorTexts: error codes 1 to 33, row = code - 1.
inline constexpr UINTN ERROR_ROWS = 33;
inline constexpr UINTN ERROR_FIELD = 21;

inline constexpr CHAR8 SuccessWarningTexts[SUCCESS_WARNING_ROWS][SUCCESS_WARNING_FIELD] = {
    "Success",
    "Warning Unknown Glyph",
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",
};

inline constexpr CHAR8 ErrorTexts[ERROR_ROWS][ERROR_FIELD] = {
    "Load Error",           "Invalid Parameter",  "Unsupported",
    "Bad Buffer Size",      "Buffer Too Small",   "Not Ready",
    "Device Error",         "Write Protected",    "Out of Resources",
    "Volume Corrupt",       "Volume Full",        "No Media",
    "Media changed",        "Not Found",          "Access Denied",
    "No Response",          "No mapping",         "Time out",
    "Not started",          "Already started",    "Aborted",
    "ICMP Error",           "TFTP Error",         "Protocol Error",
    "Incompatible Version", "Security Violation", "CRC Error",
    "End of Media",         "Reserved (29)",      "Reserved (30)",
    "End of File",          "Invalid Language",   "Compromised Data",
};

// The row text of Status: an error code 1 to ERROR_ROWS, or success and warnings 0 to
// SUCCESS_WARNING_ROWS - 1. Returns null for every other value.
const CHAR8 *StatusText(EFI_STATUS Status);
