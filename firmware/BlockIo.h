// The block I/O protocol, for what it says of its medium: removable, write-protected.
#pragma once

#include "firmware/UefiBase.h"

// 964E5B21-6459-11D2-8E39-00A0C969723B
inline constexpr EFI_GUID EFI_BLOCK_IO_PROTOCOL_GUID = {
    0x964E5B21, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

using EFI_LBA = UINT64;

// The medium behind a block device (a partition's medium is its disk's).
struct EFI_BLOCK_IO_MEDIA {
  UINT32 MediaId;
  BOOLEAN RemovableMedia;
  BOOLEAN MediaPresent;
  BOOLEAN LogicalPartition;
  BOOLEAN ReadOnly;
  BOOLEAN WriteCaching;
  UINT32 BlockSize;
  UINT32 IoAlign;
  EFI_LBA LastBlock;
};
static_assert(offsetof(EFI_BLOCK_IO_MEDIA, RemovableMedia) == 4);
static_assert(offsetof(EFI_BLOCK_IO_MEDIA, ReadOnly) == 7);
static_assert(offsetof(EFI_BLOCK_IO_MEDIA, BlockSize) == 12);
static_assert(offsetof(EFI_BLOCK_IO_MEDIA, LastBlock) == 24);

// Members the system does not call are kept as plain pointers so the layout stays exact.
struct EFI_BLOCK_IO_PROTOCOL {
  UINT64 Revision;
  EFI_BLOCK_IO_MEDIA *Media;
  void *Reset;
  void *ReadBlocks;
  void *WriteBlocks;
  void *FlushBlocks;
};
static_assert(offsetof(EFI_BLOCK_IO_PROTOCOL, Media) == 8);
static_assert(sizeof(EFI_BLOCK_IO_PROTOCOL) == 48);
