// What a hosted root bridge answers for each kind of address: all ones of exactly the read's
// width where no function answers (below the lowest function, between two, beyond the
// highest), the function's bytes where one does, and an error with the destination untouched
// where its bytes end or the read crosses offset 0xFFF.
#include "driver/PciConfigAccess.h"
#include "tests/host/HostTestSupport.h"

namespace {

// What the destination holds before each read, so that bytes a read must not touch show.
constexpr uint32_t PRESET = 0x5A5A5A5A;

struct BridgeReadRow {
  const char *Name;
  uint32_t Bus;
  uint32_t Device;
  uint32_t Function;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width;
  uint64_t Offset;
  uint32_t Expected;
  bool Fails;
};

const BridgeReadRow BridgeReadRows[] = {
    {"below the lowest function, 8 bits", 0, 0, 0, EfiPciWidthUint8, 0x00, 0x5A5A5AFF, false},
    {"below the lowest function, 16 bits", 0, 1, 7, EfiPciWidthUint16, 0x02, 0x5A5AFFFF, false},
    {"between two functions, 32 bits", 0, 3, 0, EfiPciWidthUint32, 0x100, 0xFFFFFFFF, false},
    {"beside a present function, 8 bits", 0, 5, 2, EfiPciWidthUint8, 0x34, 0x5A5A5AFF, false},
    {"beyond the highest function", 2, 0, 0, EfiPciWidthUint16, 0x00, 0x5A5AFFFF, false},
    {"last bus", 255, 31, 7, EfiPciWidthUint32, 0xFFC, 0xFFFFFFFF, false},
    {"absent, crossing 0xFFF", 0, 3, 0, EfiPciWidthUint32, 0xFFE, PRESET, true},
    {"present, 8 bits", 0, 5, 3, EfiPciWidthUint8, 0x01, 0x5A5A5A10, false},
    {"present, 16 bits", 0, 5, 3, EfiPciWidthUint16, 0x02, 0x5A5A1234, false},
    {"present, last dword", 0, 5, 3, EfiPciWidthUint32, 0xFFC, 0xA1B2C3D4, false},
    {"present, crossing 0xFFF", 0, 5, 3, EfiPciWidthUint32, 0xFFE, PRESET, true},
    {"header-only function, past its bytes", 0, 2, 0, EfiPciWidthUint8, 0x40, PRESET, true},
    {"conventional function, last byte", 1, 0, 0, EfiPciWidthUint8, 0xFF, 0x5A5A5A00, false},
    {"conventional function, across its end", 1, 0, 0, EfiPciWidthUint32, 0xFE, PRESET, true},
};

class HostBridgeReadTest : public HostPlatformTest {};

TEST_F(HostBridgeReadTest, AnswersEachKindOfAddress) {
  ConfigFunction Express = MakeFunction(0, 5, 3, 0x1010, 0x1234);
  Put32(Express, 0xFFC, 0xA1B2C3D4);
  const ConfigImage Image = {MakeFunction(0, 2, 0, 0x8086, 0x0001, 64), Express,
                             MakeFunction(1, 0, 0, 0x8086, 0x0002, CONVENTIONAL_SPACE)};
  HostRootBridge &Bridge = Platform.AddRootBridge(Image, BusDescriptor(0, 1));
  ActiveRootBridgeIo = &Bridge.Shell.Protocol;

  for (const BridgeReadRow &Row : BridgeReadRows) {
    SCOPED_TRACE(Row.Name);
    const PciConfigAddress Base = PciFunctionBase(Row.Bus, Row.Device, Row.Function);
    uint32_t Value = PRESET;
    EFI_STATUS Status = EFI_SUCCESS;
    switch (Row.Width) {
    case EfiPciWidthUint8:
      Status = PciConfigRead8(Base, Row.Offset, reinterpret_cast<UINT8 *>(&Value));
      break;
    case EfiPciWidthUint16:
      Status = PciConfigRead16(Base, Row.Offset, reinterpret_cast<UINT16 *>(&Value));
      break;
    default:
      Status = PciConfigRead32(Base, Row.Offset, &Value);
      break;
    }
    EXPECT_EQ(EfiIsError(Status), Row.Fails);
    EXPECT_EQ(Value, Row.Expected);
  }
  EXPECT_EQ(Bridge.Reads.size(), std::size(BridgeReadRows));
}

} // namespace
