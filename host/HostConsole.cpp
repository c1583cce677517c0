// The console: captures every string OutputString receives.
#include "host/HostPlatform.h"

EFI_STATUS EFIAPI HostOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *String) {
  HostPlatform &Platform = *ActiveHostPlatform;
  const std::optional<EFI_STATUS> Fault = Platform.NextFault(HostCall::OutputString);
  if (This != &Platform.Console || String == nullptr) {
    Platform.Violation("OutputString called with a wrong console or no string");
    return EFI_INVALID_PARAMETER;
  }
  if (Fault && EfiIsError(*Fault)) {
    return *Fault;
  }
  Platform.ConsoleWrites.emplace_back(String);
  Platform.ConsoleWriteOrigins.push_back(Platform.LastRead);
  return Fault.value_or(EFI_SUCCESS);
}

std::string HostPlatform::ConsoleText() const {
  static constexpr char HexDigits[] = "0123456789abcdef";
  std::string Text;
  for (const std::u16string &Write : ConsoleWrites) {
    for (const char16_t Character : Write) {
      if (Character == u'\r' || Character == u'\n' || (Character >= 0x20 && Character < 0x7F)) {
        Text.push_back(static_cast<char>(Character));
      } else {
        Text += "\\u";
        for (int Shift = 12; Shift >= 0; Shift -= 4) {
          Text.push_back(HexDigits[(Character >> Shift) & 0xF]);
        }
      }
    }
  }
  return Text;
}
