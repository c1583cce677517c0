// Boot services that hand out root bridges through a recorder: the survey's configuration reads
// go to the real bridge unchanged, and the recorder keeps which function was read last and the
// vendor and device IDs the survey read of it, so that the annotation needs no reads of its
// own. Writes are never forwarded.
#pragma once

#include "firmware/BootServices.h"
#include "firmware/PciRootBridgeIo.h"

// The function the last configuration read went to: its bridge's segment, its bus, device and
// function, and its IDs when the survey read them (registers 0 and 2).
struct FunctionRead {
  bool Valid;
  UINT32 Segment;
  UINT32 Bus;
  UINT32 Device;
  UINT32 Function;
  bool HasVendorId;
  bool HasDeviceId;
  UINT16 VendorId;
  UINT16 DeviceId;
};

// What the survey was handed and found: root bridges, and functions present (a vendor ID other
// than all ones read).
struct SurveyCounts {
  UINT32 RootBridges;
  UINT32 FunctionsScanned;
};

// The counts since RecordingBootServices was called.
const SurveyCounts &RecordedSurveyCounts();

// The bridge the recorder stands in front of now (null before the first), for reads of the
// boot image's own beside the survey's.
EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RecordedBridge();

// True when A and B name the same function of the same segment.
bool SameFunction(const FunctionRead &A, const FunctionRead &B);

// The function of the last configuration read made through a recorded bridge since
// RecordingBootServices was called.
const FunctionRead &LastFunctionRead();

// Fills Copy with Real's members, except HandleProtocol: asked for a root bridge, it hands out
// the recorder in front of it (one recorder, for the bridge asked for last). Forgets the last
// read. Returns Copy.
EFI_BOOT_SERVICES *RecordingBootServices(const EFI_BOOT_SERVICES &Real, EFI_BOOT_SERVICES &Copy);

// Notes a read of Width at Address on the bridge of Segment that returned Status and Value (its
// bytes, least significant first).
void NoteConfigurationRead(UINT32 Segment, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                           UINT64 Address, EFI_STATUS Status, UINT32 Value);
