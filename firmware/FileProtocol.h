// File access on a FAT volume: the simple file system protocol on a volume's handle opens its
// root directory, and the file protocol opens, creates, writes and closes files through it.
#pragma once

#include "firmware/UefiBase.h"
#include "firmware/UefiStatus.h"

// 964E5B22-6459-11D2-8E39-00A0C969723B
inline constexpr EFI_GUID EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// Open modes: read, read and write, and (with both) create when missing.
inline constexpr UINT64 EFI_FILE_MODE_READ = 0x0000000000000001ULL;
inline constexpr UINT64 EFI_FILE_MODE_WRITE = 0x0000000000000002ULL;
inline constexpr UINT64 EFI_FILE_MODE_CREATE = 0x8000000000000000ULL;

// Attributes of a file being created.
inline constexpr UINT64 EFI_FILE_NO_ATTRIBUTES = 0;
inline constexpr UINT64 EFI_FILE_DIRECTORY = 0x0000000000000010ULL;

struct EFI_FILE_PROTOCOL;

// Opens FileName relative to This (a directory; "\" starts from the root) in OpenMode; with
// EFI_FILE_MODE_CREATE a missing file is created with Attributes, an existing one is opened.
using EFI_FILE_OPEN = EFI_STATUS(EFIAPI *)(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle,
                                           const CHAR16 *FileName, UINT64 OpenMode,
                                           UINT64 Attributes);
// Closes the handle, writing what is buffered.
using EFI_FILE_CLOSE = EFI_STATUS(EFIAPI *)(EFI_FILE_PROTOCOL *This);
// Writes *BufferSize bytes at the current position; *BufferSize becomes the bytes written.
using EFI_FILE_WRITE = EFI_STATUS(EFIAPI *)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize,
                                            const void *Buffer);
// Writes what is buffered for the handle to the device.
using EFI_FILE_FLUSH = EFI_STATUS(EFIAPI *)(EFI_FILE_PROTOCOL *This);

// Members the system does not call are kept as plain pointers so the layout stays exact.
// Revision 2 adds asynchronous members after Flush, which the system does not use.
struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_FILE_OPEN Open;
  EFI_FILE_CLOSE Close;
  void *Delete;
  void *Read;
  EFI_FILE_WRITE Write;
  void *GetPosition;
  void *SetPosition;
  void *GetInfo;
  void *SetInfo;
  EFI_FILE_FLUSH Flush;
};
static_assert(offsetof(EFI_FILE_PROTOCOL, Open) == 8);
static_assert(offsetof(EFI_FILE_PROTOCOL, Close) == 16);
static_assert(offsetof(EFI_FILE_PROTOCOL, Delete) == 24);
static_assert(offsetof(EFI_FILE_PROTOCOL, Write) == 40);
static_assert(offsetof(EFI_FILE_PROTOCOL, Flush) == 80);
static_assert(sizeof(EFI_FILE_PROTOCOL) == 88);

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;

// Opens the volume's root directory.
using EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME =
    EFI_STATUS(EFIAPI *)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root);

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME OpenVolume;
};
static_assert(offsetof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8);
static_assert(sizeof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL) == 16);
