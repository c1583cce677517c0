// Status values: 0 is success, the top bit marks an error, any other value is a warning.
#pragma once

#include "firmware/UefiBase.h"

using EFI_STATUS = UINTN;

// Top bit of a status: set for errors, clear for success and warnings.
inline constexpr EFI_STATUS EFI_ERROR_BIT = 0x8000000000000000ULL;

// Builds the error status with the given code.
constexpr EFI_STATUS EfiErrorCode(UINT64 Code) {
  return EFI_ERROR_BIT | Code;
}

// True for an error status; warnings count as success.
constexpr bool EfiIsError(EFI_STATUS Status) {
  return (Status & EFI_ERROR_BIT) != 0;
}

inline constexpr EFI_STATUS EFI_SUCCESS = 0;

inline constexpr EFI_STATUS EFI_WARN_UNKNOWN_GLYPH = 1;
inline constexpr EFI_STATUS EFI_WARN_DELETE_FAILURE = 2;
inline constexpr EFI_STATUS EFI_WARN_WRITE_FAILURE = 3;
inline constexpr EFI_STATUS EFI_WARN_BUFFER_TOO_SMALL = 4;
inline constexpr EFI_STATUS EFI_WARN_STALE_DATA = 5;

inline constexpr EFI_STATUS EFI_LOAD_ERROR = EfiErrorCode(1);
inline constexpr EFI_STATUS EFI_INVALID_PARAMETER = EfiErrorCode(2);
inline constexpr EFI_STATUS EFI_UNSUPPORTED = EfiErrorCode(3);
inline constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE = EfiErrorCode(4);
inline constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = EfiErrorCode(5);
inline constexpr EFI_STATUS EFI_NOT_READY = EfiErrorCode(6);
inline constexpr EFI_STATUS EFI_DEVICE_ERROR = EfiErrorCode(7);
inline constexpr EFI_STATUS EFI_WRITE_PROTECTED = EfiErrorCode(8);
inline constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = EfiErrorCode(9);
inline constexpr EFI_STATUS EFI_VOLUME_CORRUPTED = EfiErrorCode(10);
inline constexpr EFI_STATUS EFI_VOLUME_FULL = EfiErrorCode(11);
inline constexpr EFI_STATUS EFI_NO_MEDIA = EfiErrorCode(12);
inline constexpr EFI_STATUS EFI_MEDIA_CHANGED = EfiErrorCode(13);
inline constexpr EFI_STATUS EFI_NOT_FOUND = EfiErrorCode(14);
inline constexpr EFI_STATUS EFI_ACCESS_DENIED = EfiErrorCode(15);
inline constexpr EFI_STATUS EFI_NO_RESPONSE = EfiErrorCode(16);
inline constexpr EFI_STATUS EFI_NO_MAPPING = EfiErrorCode(17);
inline constexpr EFI_STATUS EFI_TIMEOUT = EfiErrorCode(18);
inline constexpr EFI_STATUS EFI_NOT_STARTED = EfiErrorCode(19);
inline constexpr EFI_STATUS EFI_ALREADY_STARTED = EfiErrorCode(20);
inline constexpr EFI_STATUS EFI_ABORTED = EfiErrorCode(21);
inline constexpr EFI_STATUS EFI_ICMP_ERROR = EfiErrorCode(22);
inline constexpr EFI_STATUS EFI_TFTP_ERROR = EfiErrorCode(23);
inline constexpr EFI_STATUS EFI_PROTOCOL_ERROR = EfiErrorCode(24);
inline constexpr EFI_STATUS EFI_INCOMPATIBLE_VERSION = EfiErrorCode(25);
inline constexpr EFI_STATUS EFI_SECURITY_VIOLATION = EfiErrorCode(26);
inline constexpr EFI_STATUS EFI_CRC_ERROR = EfiErrorCode(27);
inline constexpr EFI_STATUS EFI_END_OF_MEDIA = EfiErrorCode(28);
inline constexpr EFI_STATUS EFI_END_OF_FILE = EfiErrorCode(31);
inline constexpr EFI_STATUS EFI_INVALID_LANGUAGE = EfiErrorCode(32);
inline constexpr EFI_STATUS EFI_COMPROMISED_DATA = EfiErrorCode(33);
