// The walk over the firmware's PCI root bridges and their bus-number ranges.
#pragma once

#include "firmware/UefiBase.h"

// Finds every root bridge, and scans from bus 0 to the maximum of each bus-number descriptor
// that the bridge reports, through that bridge.
void ScanRootBridges();

// Walks one bridge's descriptor list (null, or closed by an end tag) and calls ScanBusRange
// for each bus-number descriptor, with the low 16 bits of its range maximum.
void ScanBusDescriptors(const UINT8 *Descriptors);
