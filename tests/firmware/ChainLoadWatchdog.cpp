// The chain-loader's watchdog build: it arms the firmware's watchdog for a few seconds right
// before it starts each image, as a boot manager does (for five minutes) before it starts a
// boot option, and starts each in wait mode. A boot image that waits for a person without
// disarming it resets the machine once the time is up.
#include "driver/DriverGlobals.h"
#include "tests/firmware/ChainLoadPolicy.h"

namespace {
constexpr CHAR16 WAIT[] = u"wait";
// The watchdog's time, and the code its log entry gets (codes up to 0xFFFF are the firmware's).
constexpr UINTN WATCHDOG_SECONDS = 10;
constexpr UINT64 WATCHDOG_CODE = 0x10000;
} // namespace

extern const ChainLoadPolicy CHAIN_LOAD_POLICY = {WAIT, sizeof(WAIT), false};

void BeforeStartImage() {
  BootServices->SetWatchdogTimer(WATCHDOG_SECONDS, WATCHDOG_CODE, 0, nullptr);
}
