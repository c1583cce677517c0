// Address encoding of configuration reads: the register byte against the extended register,
// and bases that carry register bits of their own.
#include "driver/PciConfigAccess.h"
#include "tests/host/HostTestSupport.h"

namespace {

struct AddressRow {
  const char *Name;
  PciConfigAddress Base;
  UINT64 Offset;
  UINT64 Expected;
};

const AddressRow AddressRows[] = {
    {"register field", PciFunctionBase(0, 3, 2), 0x34, 0x00030234},
    {"last register", PciFunctionBase(0, 3, 2), 0xFF, 0x000302FF},
    {"first extended", PciFunctionBase(0, 3, 2), 0x100, 0x0000010000030200},
    {"last dword", PciFunctionBase(0, 3, 2), 0xFFC, 0x00000FFC00030200},
    {"base register byte dropped", PciFunctionBase(0, 3, 2) | 7, 0x34, 0x00030234},
    {"base extended register added", PciFunctionBase(9, 31, 7) | (0x100ULL << 32), 0x50,
     0x00000150091F0700},
    {"extended base and small offset", PciFunctionBase(1, 0, 0) | (0x80ULL << 32), 0x7F,
     0x01000000 | 0xFF},
    {"bus 255", PciFunctionBase(255, 0, 0), 0, 0xFF000000},
};

TEST(ConfigAddressTest, EncodesRegisterAndExtendedRegister) {
  for (const AddressRow &Row : AddressRows) {
    SCOPED_TRACE(Row.Name);
    EXPECT_EQ(PciRegisterAddress(Row.Base, Row.Offset), Row.Expected);
  }
}

class ConfigReadTest : public HostPlatformTest {};

// Each width reaches the bridge as one element at the encoded address, and the value comes
// back from the function's bytes.
TEST_F(ConfigReadTest, ReadsOneElementOfEachWidth) {
  ConfigFunction Function = MakeFunction(0, 3, 2, 0x8086, 0x1234);
  Put32(Function, 0x100, 0xA1B2C3D4);
  HostRootBridge &Bridge = Platform.AddRootBridge({Function}, BusDescriptor(0, 0));
  ActiveRootBridgeIo = &Bridge.Shell.Protocol;
  const PciConfigAddress Base = PciFunctionBase(0, 3, 2);

  UINT8 Byte = 0;
  UINT16 Word = 0;
  UINT32 Dword = 0;
  EXPECT_EQ(PciConfigRead8(Base, 0x01, &Byte), EFI_SUCCESS);
  EXPECT_EQ(PciConfigRead16(Base, 0x02, &Word), EFI_SUCCESS);
  EXPECT_EQ(PciConfigRead32(Base | 0x44, 0x100, &Dword), EFI_SUCCESS);
  EXPECT_EQ(Byte, 0x80);
  EXPECT_EQ(Word, 0x1234);
  EXPECT_EQ(Dword, 0xA1B2C3D4U);

  ASSERT_EQ(Bridge.Reads.size(), 3U);
  EXPECT_EQ(Bridge.Reads[0].Address, 0x00030201U);
  EXPECT_EQ(Bridge.Reads[0].Width, EfiPciWidthUint8);
  EXPECT_EQ(Bridge.Reads[1].Width, EfiPciWidthUint16);
  EXPECT_EQ(Bridge.Reads[2].Address, 0x0000010000030200U);
  EXPECT_EQ(Bridge.Reads[2].Width, EfiPciWidthUint32);
}

// The bridge's status comes back unchanged and a refused read leaves the destination alone.
TEST_F(ConfigReadTest, PassesStatusBackAndKeepsDestinationOnFailure) {
  ConfigFunction Short = MakeFunction(0, 0, 0, 0x8086, 0x1234, 64);
  HostRootBridge &Bridge = Platform.AddRootBridge({Short}, BusDescriptor(0, 0));
  ActiveRootBridgeIo = &Bridge.Shell.Protocol;

  UINT32 Dword = 0x5A5A5A5A;
  EXPECT_TRUE(EfiIsError(PciConfigRead32(PciFunctionBase(0, 0, 0), 0x100, &Dword)));
  EXPECT_EQ(Dword, 0x5A5A5A5AU);
  EXPECT_TRUE(EfiIsError(PciConfigRead32(PciFunctionBase(0, 1, 0), 0xFFE, &Dword)));
  EXPECT_EQ(Dword, 0x5A5A5A5AU);

  Platform.InjectFault(HostCall::PciRead, 0, EFI_WARN_STALE_DATA);
  UINT16 Word = 0;
  EXPECT_EQ(PciConfigRead16(PciFunctionBase(0, 0, 0), 0, &Word), EFI_WARN_STALE_DATA);
  EXPECT_EQ(Word, 0x8086);
}

} // namespace
