// Addresses and IDs of preview functions as lspci shows them, and the merging of sources.
#include "tools/source/PreviewImage.h"

#include <algorithm>
#include <cstdio>

namespace {

// Vendor and device ID registers, 16 bits each, low byte first.
constexpr size_t VENDOR_ID_OFFSET = 0x00;
constexpr size_t DEVICE_ID_OFFSET = 0x02;
constexpr int BITS_PER_BYTE = 8;

// The 16-bit register at Offset of Function, or all ones when the function holds no such bytes.
uint16_t Register16(const ConfigFunction &Function, size_t Offset) {
  if (Function.Bytes.size() < Offset + sizeof(uint16_t)) {
    return UINT16_MAX;
  }
  return static_cast<uint16_t>(Function.Bytes[Offset] |
                               (Function.Bytes[Offset + 1] << BITS_PER_BYTE));
}

// The name of a source in messages.
std::string SourceName(const PreviewFunction &Function) {
  return Function.Source.empty() ? "this machine" : Function.Source;
}

} // namespace

std::string FormatFunctionAddress(const FunctionKey &Key) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%04x:%02x:%02x.%x", Key.Domain, Key.Bus, Key.Device,
                Key.Function);
  return Text;
}

std::string FormatId(const ConfigFunction &Function, PciId Id) {
  char Text[8];
  std::snprintf(Text, sizeof Text, "%04x",
                Register16(Function, Id == PciId::Vendor ? VENDOR_ID_OFFSET : DEVICE_ID_OFFSET));
  return Text;
}

std::string FormatFunctionIds(const ConfigFunction &Function) {
  return FormatId(Function, PciId::Vendor) + ":" + FormatId(Function, PciId::Device);
}

bool MergeIntoImage(PreviewImage &Image, PreviewImage Added, std::string &Error) {
  const auto ByAddress = [](const PreviewFunction &Left, const PreviewFunction &Right) {
    return KeyOf(Left) < KeyOf(Right);
  };
  for (const PreviewFunction &Function : Added) {
    const auto Found = std::find_if(Image.begin(), Image.end(), [&](const PreviewFunction &Known) {
      return KeyOf(Known) == KeyOf(Function);
    });
    if (Found != Image.end()) {
      Error = SourceName(Function) + ": function " + FormatFunctionAddress(KeyOf(Function)) +
              " is also in " + SourceName(*Found);
      return false;
    }
  }
  Image.insert(Image.end(), std::make_move_iterator(Added.begin()),
               std::make_move_iterator(Added.end()));
  std::stable_sort(Image.begin(), Image.end(), ByAddress);
  return true;
}
