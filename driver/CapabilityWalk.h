// Capability discovery: the standard capability list and the extended capability chain.
#pragma once

#include "driver/PciConfigAccess.h"

// True when the standard capability list of the function at Base holds the PCI Express
// capability. The walk ends at a null pointer or after PCI_CAPABILITY_LIST_MAX_ENTRIES entries.
bool HasPciExpressCapability(PciConfigAddress Base);

// The configuration offset of the function's Resizable BAR extended capability, or 0 when the
// chain from 0x100 holds none within PCI_EXT_CAP_WALK_BUDGET headers.
UINT16 FindRebarCapability(PciConfigAddress Base);
