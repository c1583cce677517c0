// The bus, device and function scan behind the active root bridge.
#pragma once

#include "firmware/UefiBase.h"

// Probes every function of buses 0 to MaxBus (at most 255) and hands each PCI Express function
// with a Resizable BAR capability to EvaluateRebar.
void ScanBusRange(UINT16 MaxBus);
