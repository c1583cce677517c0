// The fixture bridges on the host: what FixtureEntry installs and how its bridges answer
// configuration reads, so that a firmware test failure points at the driver, not the fixture.
#include "firmware/AcpiDescriptors.h"
#include "firmware/SystemTable.h"
#include "tests/firmware/FixtureRootBridge.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Two functions on bus 1 behind the first bridge: a 4096-byte one at 01:00.0 whose byte at
// offset n is n's low byte, and a 256-byte one at 01:1f.7 holding 0xA5 everywhere.
struct Bytes4096 {
  UINT8 Data[4096];
  constexpr Bytes4096() : Data() {
    for (unsigned Index = 0; Index < 4096; ++Index) {
      Data[Index] = static_cast<UINT8>(Index);
    }
  }
};
constexpr Bytes4096 COUNTING;
struct Bytes256 {
  UINT8 Data[256];
  constexpr Bytes256() : Data() {
    for (UINT8 &Byte : Data) {
      Byte = 0xA5;
    }
  }
};
constexpr Bytes256 PATTERN;

constexpr FixtureFunction FIRST_FUNCTIONS[] = {
    {1, 0, 0, 4096, COUNTING.Data},
    {1, 0x1F, 7, 256, PATTERN.Data},
};

} // namespace

// The images FixtureEntry installs: a bridge with buses 0..1, one without a bus range.
extern const FixtureBridgeImage FixtureBridgeImages[] = {
    {1, 1, FIRST_FUNCTIONS, 2, 0, nullptr, 0},
    {0, 0, nullptr, 0, 0, nullptr, 0},
};
extern const UINTN FixtureBridgeCount = 2;
// No firmware facts: the bridges alone.
extern const FixtureFirmwareFacts FixtureFacts = {0, nullptr, 0, 0};

extern "C" EFI_STATUS EFIAPI FixtureEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

struct Installed {
  bool HandleWasNull;
  bool GuidMatches;
  EFI_INTERFACE_TYPE Type;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Protocol;
};
std::vector<Installed> Installs;
int NextHandle = 0;

EFI_STATUS EFIAPI RecordInstall(EFI_HANDLE *Handle, const EFI_GUID *Protocol,
                                EFI_INTERFACE_TYPE Type, void *Interface) {
  Installs.push_back({*Handle == nullptr,
                      GuidsEqual(*Protocol, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID), Type,
                      static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *>(Interface)});
  *Handle = &NextHandle;
  ++NextHandle;
  return EFI_SUCCESS;
}

int ImageHandleValue;

class FixtureBridges : public testing::Test {
protected:
  void SetUp() override {
    Installs.clear();
    Services.InstallProtocolInterface = RecordInstall;
    Table.BootServices = &Services;
    ASSERT_EQ(FixtureEntry(&ImageHandleValue, &Table), EFI_SUCCESS);
    ASSERT_EQ(Installs.size(), 2u);
  }

  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge(size_t Index) { return Installs[Index].Protocol; }

  // Resource types of the bridge's descriptors, in order, up to the end tag.
  std::vector<UINT8> DescriptorTypes(size_t Index) {
    void *Resources = nullptr;
    EXPECT_EQ(Bridge(Index)->Configuration(Bridge(Index), &Resources), EFI_SUCCESS);
    std::vector<UINT8> Types;
    for (auto *At = static_cast<const UINT8 *>(Resources);
         At[ACPI_DESCRIPTOR_TAG] != ACPI_END_TAG_DESCRIPTOR; At += ACPI_QWORD_DESCRIPTOR_SIZE) {
      EXPECT_EQ(At[ACPI_DESCRIPTOR_TAG], ACPI_QWORD_ADDRESS_SPACE_DESCRIPTOR);
      Types.push_back(At[ACPI_DESCRIPTOR_RESOURCE_TYPE]);
      if (At[ACPI_DESCRIPTOR_RESOURCE_TYPE] == ACPI_ADDRESS_SPACE_TYPE_BUS) {
        UINT64 Minimum = 0;
        UINT64 Maximum = 0;
        std::memcpy(&Minimum, At + ACPI_DESCRIPTOR_RANGE_MINIMUM, sizeof Minimum);
        std::memcpy(&Maximum, At + ACPI_DESCRIPTOR_RANGE_MAXIMUM, sizeof Maximum);
        EXPECT_EQ(Minimum, 0u);
        EXPECT_EQ(Maximum, FixtureBridgeImages[Index].BusMaximum);
      }
    }
    return Types;
  }

  EFI_BOOT_SERVICES Services = {};
  EFI_SYSTEM_TABLE Table = {};
};

TEST_F(FixtureBridges, InstallsEachBridgeOnANewHandle) {
  for (size_t Index = 0; Index < Installs.size(); ++Index) {
    SCOPED_TRACE("bridge " + std::to_string(Index));
    EXPECT_TRUE(Installs[Index].HandleWasNull);
    EXPECT_TRUE(Installs[Index].GuidMatches);
    EXPECT_EQ(Installs[Index].Type, EFI_NATIVE_INTERFACE);
    EXPECT_EQ(Bridge(Index)->ParentHandle, &ImageHandleValue);
    EXPECT_EQ(Bridge(Index)->SegmentNumber, Index + 1);
  }
  EXPECT_NE(Bridge(0), Bridge(1));
}

TEST_F(FixtureBridges, DescriptorsPlaceTheBusRangeAmongOtherWindows) {
  EXPECT_EQ(DescriptorTypes(0),
            (std::vector<UINT8>{ACPI_ADDRESS_SPACE_TYPE_IO, ACPI_ADDRESS_SPACE_TYPE_MEM,
                                ACPI_ADDRESS_SPACE_TYPE_BUS, ACPI_ADDRESS_SPACE_TYPE_MEM}));
  EXPECT_EQ(DescriptorTypes(1),
            (std::vector<UINT8>{ACPI_ADDRESS_SPACE_TYPE_IO, ACPI_ADDRESS_SPACE_TYPE_MEM,
                                ACPI_ADDRESS_SPACE_TYPE_MEM}));
}

// Root bridge PCI address of bus/device/function with the register or extended register.
constexpr UINT64 Address(UINT64 Bus, UINT64 Device, UINT64 Function, UINT64 Register,
                         UINT64 Extended = 0) {
  return (Extended << 32) | (Bus << 24) | (Device << 16) | (Function << 8) | Register;
}

constexpr UINT32 UNTOUCHED = 0x5A5A5A5A;

struct ReadCase {
  const char *Name;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width;
  UINT64 Address;
  UINTN Count;
  EFI_STATUS Status;
  UINT32 Buffer; // the whole 32-bit buffer after the read, preset to UNTOUCHED
};

class FixtureRead : public FixtureBridges, public testing::WithParamInterface<ReadCase> {};

TEST_P(FixtureRead, AnswersLikeTheFirmwareBridge) {
  const ReadCase &Case = GetParam();
  UINT32 Buffer = UNTOUCHED;
  EXPECT_EQ(Bridge(0)->Pci.Read(Bridge(0), Case.Width, Case.Address, Case.Count, &Buffer),
            Case.Status);
  EXPECT_EQ(Buffer, Case.Buffer) << std::hex << Buffer;
}

INSTANTIATE_TEST_SUITE_P(
    FixtureBridges, FixtureRead,
    testing::Values(
        ReadCase{"Byte", EfiPciWidthUint8, Address(1, 0, 0, 0x34), 1, EFI_SUCCESS, 0x5A5A5A34},
        ReadCase{"Word", EfiPciWidthUint16, Address(1, 0, 0, 0x02), 1, EFI_SUCCESS, 0x5A5A0302},
        ReadCase{"Dword", EfiPciWidthUint32, Address(1, 0, 0, 0xFC), 1, EFI_SUCCESS, 0xFFFEFDFC},
        ReadCase{"ExtendedRegister", EfiPciWidthUint32, Address(1, 0, 0, 0, 0x104), 1, EFI_SUCCESS,
                 0x07060504},
        ReadCase{"ExtendedRegisterWins", EfiPciWidthUint8, Address(1, 0, 0, 0x34, 0x201), 1,
                 EFI_SUCCESS, 0x5A5A5A01},
        ReadCase{"LastDword", EfiPciWidthUint32, Address(1, 0, 0, 0, 0xFFC), 1, EFI_SUCCESS,
                 0xFFFEFDFC},
        ReadCase{"CrossesSpaceEnd", EfiPciWidthUint32, Address(1, 0, 0, 0, 0xFFE), 1,
                 EFI_INVALID_PARAMETER, UNTOUCHED},
        ReadCase{"CrossesSpaceEndOnAbsent", EfiPciWidthUint16, Address(1, 3, 0, 0, 0xFFF), 1,
                 EFI_INVALID_PARAMETER, UNTOUCHED},
        ReadCase{"OtherFunction", EfiPciWidthUint32, Address(1, 0x1F, 7, 0x40), 1, EFI_SUCCESS,
                 0xA5A5A5A5},
        ReadCase{"PastBytesHeld", EfiPciWidthUint32, Address(1, 0x1F, 7, 0, 0x100), 1,
                 EFI_DEVICE_ERROR, UNTOUCHED},
        ReadCase{"LastBytesHeld", EfiPciWidthUint16, Address(1, 0x1F, 7, 0xFE), 1, EFI_SUCCESS,
                 0x5A5AA5A5},
        ReadCase{"AbsentFunction", EfiPciWidthUint16, Address(1, 0, 1, 0), 1, EFI_SUCCESS,
                 0x5A5AFFFF},
        ReadCase{"AbsentOnScannedBus", EfiPciWidthUint32, Address(0, 0, 0, 0), 1, EFI_SUCCESS,
                 0xFFFFFFFF},
        ReadCase{"BusOutsideRange", EfiPciWidthUint8, Address(2, 0, 0, 0), 1, EFI_SUCCESS,
                 0x5A5A5AFF},
        ReadCase{"DeviceAbove31", EfiPciWidthUint8, Address(1, 32, 0, 0), 1, EFI_INVALID_PARAMETER,
                 UNTOUCHED},
        ReadCase{"FunctionAbove7", EfiPciWidthUint8, Address(1, 0, 8, 0), 1, EFI_INVALID_PARAMETER,
                 UNTOUCHED},
        ReadCase{"CountTwo", EfiPciWidthUint8, Address(1, 0, 0, 0), 2, EFI_UNSUPPORTED, UNTOUCHED},
        ReadCase{"Width64", EfiPciWidthUint64, Address(1, 0, 0, 0), 1, EFI_UNSUPPORTED, UNTOUCHED},
        ReadCase{"FifoWidth", EfiPciWidthFifoUint8, Address(1, 0, 0, 0), 1, EFI_UNSUPPORTED,
                 UNTOUCHED}),
    [](const testing::TestParamInfo<ReadCase> &Info) { return std::string(Info.param.Name); });

TEST_F(FixtureBridges, EverythingButConfigurationReadsIsUnsupported) {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Protocol = Bridge(0);
  UINT32 Value = UNTOUCHED;
  for (EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM Access :
       {Protocol->Pci.Write, Protocol->Mem.Read, Protocol->Mem.Write, Protocol->Io.Read,
        Protocol->Io.Write}) {
    EXPECT_EQ(Access(Protocol, EfiPciWidthUint32, 0, 1, &Value), EFI_UNSUPPORTED);
  }
  EXPECT_EQ(Value, UNTOUCHED);
  for (void *Operation : {Protocol->PollMem, Protocol->PollIo, Protocol->CopyMem, Protocol->Map,
                          Protocol->Unmap, Protocol->AllocateBuffer, Protocol->FreeBuffer,
                          Protocol->Flush, Protocol->GetAttributes, Protocol->SetAttributes}) {
    auto *Call =
        reinterpret_cast<EFI_STATUS(EFIAPI *)(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *)>(Operation);
    ASSERT_NE(Call, nullptr);
    EXPECT_EQ(Call(Protocol), EFI_UNSUPPORTED);
  }
}

TEST_F(FixtureBridges, RefusesNullArguments) {
  UINT32 Value = 0;
  EXPECT_EQ(Bridge(0)->Pci.Read(Bridge(0), EfiPciWidthUint8, 0, 1, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bridge(0)->Pci.Read(nullptr, EfiPciWidthUint8, 0, 1, &Value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bridge(0)->Configuration(Bridge(0), nullptr), EFI_INVALID_PARAMETER);
}

} // namespace
