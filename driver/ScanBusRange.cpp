// Bus, device and function scan: flat and exhaustive over the bus range, with the
// single-function cut of function 0's header type.
#include "driver/ScanBusRange.h"

#include "driver/CapabilityWalk.h"
#include "driver/DriverGlobals.h"
#include "driver/PciConfigAccess.h"
#include "driver/PciRegisters.h"
#include "driver/RebarEvaluation.h"

// Probes one function address. Returns false when the function is function 0 of a
// single-function device, so that functions 1 to 7 need not be probed.
static bool ScanFunction(UINT32 Bus, UINT32 Device, UINT32 Function) {
  const PciConfigAddress Base = PciFunctionBase(Bus, Device, Function);

  // A read that fails leaves the preset: the function looks absent.
  UINT16 VendorId = PCI_ABSENT_VENDOR_ID;
  UINT16 DeviceId = PCI_ABSENT_VENDOR_ID;
  PciConfigRead16(Base, PCI_VENDOR_ID, &VendorId);
  PciConfigRead16(Base, PCI_DEVICE_ID, &DeviceId);
  if (VendorId == PCI_ABSENT_VENDOR_ID) {
    // An absent function 0 does not end the device: functions 1 to 7 are still probed.
    return true;
  }

  UINT16 RebarOffset = 0;
  if (HasPciExpressCapability(Base)) {
    RebarOffset = FindRebarCapability(Base);
  }
  if (RebarOffset != 0) {
    ++RebarFunctionCount;
    EvaluateRebar(Base, RebarOffset, VendorId, DeviceId);
  }

  UINT8 HeaderType = 0;
  PciConfigRead8(Base, PCI_HEADER_TYPE, &HeaderType);
  return Function != 0 || (HeaderType & PCI_HEADER_TYPE_MULTI_FUNCTION) != 0;
}

void ScanBusRange(UINT16 MaxBus) {
  // The address holds 8 bits of bus number: a larger bus would spill into the
  // extended-register field and read other functions' registers.
  const UINT32 LastBus = MaxBus < PCI_MAX_BUS ? MaxBus : PCI_MAX_BUS;
  for (UINT32 Bus = 0; Bus <= LastBus; ++Bus) {
    for (UINT32 Device = 0; Device <= PCI_MAX_DEVICE; ++Device) {
      for (UINT32 Function = 0; Function <= PCI_MAX_FUNCTION; ++Function) {
        if (!ScanFunction(Bus, Device, Function)) {
          break;
        }
      }
    }
  }
}
