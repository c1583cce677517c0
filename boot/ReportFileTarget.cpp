// Whether the report is saved, and whether the volume is a stick: from the loaded image's
// device (its block device's medium, its device path) and its file path.
#include "boot/BootMode.h"
#include "boot/ReportFile.h"
#include "driver/DriverGlobals.h"
#include "firmware/BlockIo.h"
#include "firmware/DevicePath.h"
#include "firmware/LoadedImage.h"

namespace {

constexpr UINT32 BITS_PER_BYTE = 8;

// The interface of Protocol on Handle, or null.
void *InterfaceOf(EFI_HANDLE Handle, const EFI_GUID &Protocol) {
  void *Interface = nullptr;
  if (Handle == nullptr ||
      EfiIsError(BootServices->HandleProtocol(Handle, &Protocol, &Interface))) {
    return nullptr;
  }
  return Interface;
}

// True when the device path of Device holds a USB node.
bool SitsOnUsb(EFI_HANDLE Device) {
  const auto *Node = static_cast<const UINT8 *>(InterfaceOf(Device, EFI_DEVICE_PATH_PROTOCOL_GUID));
  for (UINTN Nodes = 0; Node != nullptr && Nodes < DEVICE_PATH_MAX_NODES; ++Nodes) {
    const UINTN NodeLength = Node[2] | (Node[3] << BITS_PER_BYTE);
    if (Node[0] == END_DEVICE_PATH_TYPE || NodeLength < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      return false;
    }
    if (Node[0] == MESSAGING_DEVICE_PATH && Node[1] == MSG_USB_DP) {
      return true;
    }
    Node += NodeLength;
  }
  return false;
}

// True when the block device of Device says its medium is removable.
bool HasRemovableMedium(EFI_HANDLE Device) {
  const auto *BlockIo =
      static_cast<const EFI_BLOCK_IO_PROTOCOL *>(InterfaceOf(Device, EFI_BLOCK_IO_PROTOCOL_GUID));
  return BlockIo != nullptr && BlockIo->Media != nullptr && BlockIo->Media->RemovableMedia != 0;
}

} // namespace

bool ChooseReportFile(EFI_HANDLE Image, bool Save, ReportFileTarget &Target) {
  Target = {};
  const auto *Loaded = static_cast<const EFI_LOADED_IMAGE_PROTOCOL *>(
      InterfaceOf(Image, EFI_LOADED_IMAGE_PROTOCOL_GUID));
  if (Loaded == nullptr) {
    return false;
  }
  Target.Device = Loaded->DeviceHandle;
  Target.Removable = HasRemovableMedium(Target.Device) || SitsOnUsb(Target.Device) ||
                     IsRemovableMediaPath(Loaded->FilePath);
  return Target.Removable || Save;
}
