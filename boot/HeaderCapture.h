// The first 64 bytes of each function the survey finds present, read once beside the survey's
// own reads (configuration reads only, a fixed number per function), so that the verdict
// engine can follow a BAR's path through the bridges above it.
#pragma once

#include "firmware/BootServices.h"
#include "firmware/PciRootBridgeIo.h"
#include "verdict/FunctionHeader.h"

// Bytes kept of each function: the type 0 or type 1 header.
inline constexpr UINTN CAPTURED_HEADER_BYTES = 64;
// Functions kept; those found after them are not read, and their verdicts look at fewer
// bridges (the engine then names what it could not see).
inline constexpr UINTN CAPTURED_FUNCTIONS_MAX = 256;

// Takes the capture's storage (about 22 KB) from Services' pool; without it nothing is
// captured and the verdicts see no headers.
void StartHeaderCapture(const EFI_BOOT_SERVICES &Services);

// Gives the storage back; nothing is kept after it.
void EndHeaderCapture(const EFI_BOOT_SERVICES &Services);

// Forgets every function captured.
void ClearHeaderCapture();

// Reads the header of the function at Address (a configuration address of any of its
// registers) through Bridge, whose segment is Segment, and keeps it; a function already kept, or
// one past CAPTURED_FUNCTIONS_MAX, is not read. A read that fails leaves all ones, as an
// absent register reads.
void CaptureHeader(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge, UINT32 Segment, UINT64 Address);

// Every function kept, in the order found.
FunctionList CapturedFunctions();

// The kept function at Segment:Bus:Device.Function, or null.
const FunctionHeader *FindCapturedFunction(UINT32 Segment, UINT32 Bus, UINT32 Device,
                                           UINT32 Function);
