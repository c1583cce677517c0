// The report file's configuration dump: which functions, found how, and their hex lines.
#include "boot/ReportDump.h"

#include "driver/DriverGlobals.h"
#include "driver/PciConfigAccess.h"
#include "driver/PciRegisters.h"
#include "firmware/AcpiDescriptors.h"

namespace {

// Header registers the path walk reads: the header type's dword, and a bridge's bus numbers
// (primary, secondary, subordinate in bytes 0 to 2).
constexpr UINT64 PCI_HEADER_TYPE_DWORD = 0x0C;
constexpr UINT32 HEADER_TYPE_SHIFT = 16;
constexpr UINT32 HEADER_TYPE_LAYOUT_MASK = 0x7F;
constexpr UINT32 HEADER_LAYOUT_BRIDGE = 0x01;
constexpr UINT64 PCI_BRIDGE_BUS_NUMBERS = 0x18;
constexpr UINT32 SECONDARY_BUS_SHIFT = 8;
constexpr UINT32 SUBORDINATE_BUS_SHIFT = 16;
constexpr UINT32 BUS_NUMBER_MASK = 0xFF;
constexpr UINT32 VENDOR_ID_MASK = 0xFFFF;
constexpr UINT32 DEVICE_ID_SHIFT = 16;
constexpr UINT32 ABSENT_DWORD = 0xFFFFFFFF;
// Descriptors of a root bridge's resource list looked at for its bus range.
constexpr UINTN RESOURCE_DESCRIPTORS_MAX = 32;

// Configuration space dumped: 256 bytes, 4096 with extended space; 16 bytes a line.
constexpr UINT64 CONVENTIONAL_BYTES = 0x100;
constexpr UINT64 EXTENDED_BYTES = 0x1000;
constexpr UINT64 LINE_BYTES = 16;
constexpr UINT32 BITS_PER_BYTE = 8;
constexpr UINT32 BYTE_MASK = 0xFF;
// Offset digits: "00:" below 0x100, "100:" from there.
constexpr UINTN SHORT_OFFSET_DIGITS = 2;
constexpr UINTN LONG_OFFSET_DIGITS = 3;

constexpr UINTN SEGMENT_DIGITS = 4;
constexpr UINTN BUS_DIGITS = 2;
constexpr UINTN DEVICE_DIGITS = 2;
constexpr UINTN ID_DIGITS = 4;
constexpr UINT32 HEX_BASE = 16;
constexpr UINT32 DECIMAL_DIGIT_LIMIT = 10;

// The walk's lists, kept out of the firmware's stack.
constinit DumpRootBridge RootBridges[DUMP_MAX_ROOT_BRIDGES] = {};
constinit FunctionAddress ReportedList[DUMP_MAX_REPORTED_FUNCTIONS] = {};
constinit FunctionAddress DumpList[DUMP_MAX_FUNCTIONS] = {};

UINT16 ReadLe16(const UINT8 *Field) {
  return static_cast<UINT16>(Field[0] | (Field[1] << BITS_PER_BYTE));
}

// The value of hex digit Character, or HEX_BASE when it is none (lower case only, as written).
UINT32 HexValue(CHAR8 Character) {
  if (Character >= '0' && Character <= '9') {
    return static_cast<UINT32>(Character - '0');
  }
  if (Character >= 'a' && Character <= 'f') {
    return static_cast<UINT32>(Character - 'a') + DECIMAL_DIGIT_LIMIT;
  }
  return HEX_BASE;
}

// Reads exactly Digits hex digits at Text[Index..Size); advances Index.
bool TakeHex(const CHAR8 *Text, UINTN Size, UINTN &Index, UINTN Digits, UINT32 &Value) {
  Value = 0;
  for (UINTN Taken = 0; Taken < Digits; ++Taken, ++Index) {
    if (Index >= Size || HexValue(Text[Index]) == HEX_BASE) {
      return false;
    }
    Value = Value * HEX_BASE + HexValue(Text[Index]);
  }
  return true;
}

bool TakeChar(const CHAR8 *Text, UINTN Size, UINTN &Index, CHAR8 Expected) {
  if (Index >= Size || Text[Index] != Expected) {
    return false;
  }
  ++Index;
  return true;
}

// Parses "# SSSS:BB:DD.F" then a space or CR at Text[Index..Size).
bool ParseAddressLine(const CHAR8 *Text, UINTN Size, UINTN Index, FunctionAddress &Address) {
  return TakeChar(Text, Size, Index, '#') && TakeChar(Text, Size, Index, ' ') &&
         TakeHex(Text, Size, Index, SEGMENT_DIGITS, Address.Segment) &&
         TakeChar(Text, Size, Index, ':') && TakeHex(Text, Size, Index, BUS_DIGITS, Address.Bus) &&
         TakeChar(Text, Size, Index, ':') &&
         TakeHex(Text, Size, Index, DEVICE_DIGITS, Address.Device) &&
         Address.Device <= PCI_MAX_DEVICE && TakeChar(Text, Size, Index, '.') &&
         TakeHex(Text, Size, Index, 1, Address.Function) && Address.Function <= PCI_MAX_FUNCTION &&
         Index < Size && (Text[Index] == ' ' || Text[Index] == '\r');
}

bool SameAddress(const FunctionAddress &A, const FunctionAddress &B) {
  return A.Segment == B.Segment && A.Bus == B.Bus && A.Device == B.Device &&
         A.Function == B.Function;
}

// Adds Address to List unless it is there; false when List is full.
bool AddOnce(FunctionAddress *List, UINTN &Count, UINTN Max, const FunctionAddress &Address) {
  for (UINTN Index = 0; Index < Count; ++Index) {
    if (SameAddress(List[Index], Address)) {
      return true;
    }
  }
  if (Count == Max) {
    return false;
  }
  List[Count++] = Address;
  return true;
}

// The firmware's root bridges with a bus range; returns how many were stored.
UINTN FindRootBridges(DumpRootBridge *Out, UINTN Max) {
  UINTN HandleCount = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EfiIsError(BootServices->LocateHandleBuffer(ByProtocol, &EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID,
                                                  nullptr, &HandleCount, &Handles)) ||
      Handles == nullptr) {
    return 0;
  }
  UINTN Count = 0;
  for (UINTN Index = 0; Index < HandleCount && Count < Max; ++Index) {
    void *Interface = nullptr;
    void *Resources = nullptr;
    if (EfiIsError(BootServices->HandleProtocol(
            Handles[Index], &EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID, &Interface)) ||
        Interface == nullptr) {
      continue;
    }
    auto *Bridge = static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *>(Interface);
    if (EfiIsError(Bridge->Configuration(Bridge, &Resources)) || Resources == nullptr) {
      continue;
    }
    // The first bus-number descriptor, the list stepped as the survey steps it.
    const auto *Cursor = static_cast<const UINT8 *>(Resources);
    for (UINTN Descriptors = 0; Descriptors < RESOURCE_DESCRIPTORS_MAX &&
                                Cursor[ACPI_DESCRIPTOR_TAG] == ACPI_QWORD_ADDRESS_SPACE_DESCRIPTOR;
         ++Descriptors, Cursor += ACPI_QWORD_DESCRIPTOR_SIZE) {
      if (Cursor[ACPI_DESCRIPTOR_RESOURCE_TYPE] == ACPI_ADDRESS_SPACE_TYPE_BUS) {
        Out[Count++] = {Bridge, ReadLe16(Cursor + ACPI_DESCRIPTOR_RANGE_MINIMUM) & BUS_NUMBER_MASK,
                        ReadLe16(Cursor + ACPI_DESCRIPTOR_RANGE_MAXIMUM) & BUS_NUMBER_MASK};
        break;
      }
    }
  }
  BootServices->FreePool(Handles);
  return Count;
}

// One dword of configuration space; all ones when the bridge refuses the read.
EFI_STATUS ReadDword(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Bridge, const FunctionAddress &Address,
                     UINT64 Offset, UINT32 &Value) {
  Value = ABSENT_DWORD;
  const PciConfigAddress Base = PciFunctionBase(Address.Bus, Address.Device, Address.Function);
  return Bridge->Pci.Read(Bridge, EfiPciWidthUint32, PciRegisterAddress(Base, Offset), 1, &Value);
}

// The bridge that serves Address: the first of its segment whose bus range holds its bus.
const DumpRootBridge *BridgeOf(const DumpRootBridge *Bridges, UINTN Count,
                               const FunctionAddress &Address) {
  for (UINTN Index = 0; Index < Count; ++Index) {
    const DumpRootBridge &Root = Bridges[Index];
    if (Root.Bridge->SegmentNumber == Address.Segment && Address.Bus >= Root.BusFirst &&
        Address.Bus <= Root.BusLast) {
      return &Root;
    }
  }
  return nullptr;
}

// The bridge on Bus whose secondary..subordinate holds Target's bus; false when none does.
bool FindBridgeBelow(const DumpRootBridge &Root, UINT32 Bus, const FunctionAddress &Target,
                     FunctionAddress &Found, UINT32 &Secondary) {
  for (UINT32 Device = 0; Device <= PCI_MAX_DEVICE; ++Device) {
    for (UINT32 Function = 0; Function <= PCI_MAX_FUNCTION; ++Function) {
      const FunctionAddress Address = {Target.Segment, Bus, Device, Function};
      UINT32 Ids = ABSENT_DWORD;
      UINT32 HeaderDword = 0;
      ReadDword(Root.Bridge, Address, PCI_VENDOR_ID, Ids);
      // An absent function 0 does not end the device, as in the survey's scan.
      if ((Ids & VENDOR_ID_MASK) == PCI_ABSENT_VENDOR_ID) {
        continue;
      }
      ReadDword(Root.Bridge, Address, PCI_HEADER_TYPE_DWORD, HeaderDword);
      const UINT32 HeaderType = (HeaderDword >> HEADER_TYPE_SHIFT) & BYTE_MASK;
      if ((HeaderType & HEADER_TYPE_LAYOUT_MASK) == HEADER_LAYOUT_BRIDGE) {
        UINT32 Buses = 0;
        ReadDword(Root.Bridge, Address, PCI_BRIDGE_BUS_NUMBERS, Buses);
        const UINT32 First = (Buses >> SECONDARY_BUS_SHIFT) & BUS_NUMBER_MASK;
        const UINT32 Last = (Buses >> SUBORDINATE_BUS_SHIFT) & BUS_NUMBER_MASK;
        if (First > Bus && Target.Bus >= First && Target.Bus <= Last) {
          Found = Address;
          Secondary = First;
          return true;
        }
      }
      if (Function == 0 && (HeaderType & PCI_HEADER_TYPE_MULTI_FUNCTION) == 0) {
        break;
      }
    }
  }
  return false;
}

// Adds the path of Target (bridges from its root bus down, function 0 of its device, itself).
bool AddPath(const DumpRootBridge &Root, const FunctionAddress &Target, FunctionAddress *List,
             UINTN &Count) {
  UINT32 Bus = Root.BusFirst;
  for (UINTN Depth = 0; Depth < DUMP_MAX_PATH_BRIDGES && Bus != Target.Bus; ++Depth) {
    FunctionAddress Bridge = {};
    if (!FindBridgeBelow(Root, Bus, Target, Bridge, Bus) ||
        !AddOnce(List, Count, DUMP_MAX_FUNCTIONS, Bridge)) {
      break;
    }
  }
  const FunctionAddress FunctionZero = {Target.Segment, Target.Bus, Target.Device, 0};
  return AddOnce(List, Count, DUMP_MAX_FUNCTIONS, FunctionZero) &&
         AddOnce(List, Count, DUMP_MAX_FUNCTIONS, Target);
}

// Writes one function: "SSSS:BB:DD.F vvvv:dddd", its hex lines, a blank line. A function that
// reads as absent is left out.
void WriteFunction(ReportFileWriter &Writer, const DumpRootBridge &Root,
                   const FunctionAddress &Address) {
  UINT32 Ids = ABSENT_DWORD;
  if (EfiIsError(ReadDword(Root.Bridge, Address, PCI_VENDOR_ID, Ids)) ||
      (Ids & VENDOR_ID_MASK) == PCI_ABSENT_VENDOR_ID) {
    return;
  }
  UINT32 First = ABSENT_DWORD;
  const bool Extended =
      !EfiIsError(ReadDword(Root.Bridge, Address, PCI_EXTENDED_CAPABILITY_START, First));
  WriteHex(Writer, Address.Segment, SEGMENT_DIGITS);
  WriteString(Writer, ":");
  WriteHex(Writer, Address.Bus, BUS_DIGITS);
  WriteString(Writer, ":");
  WriteHex(Writer, Address.Device, DEVICE_DIGITS);
  WriteString(Writer, ".");
  WriteHex(Writer, Address.Function, 1);
  WriteString(Writer, " ");
  WriteHex(Writer, Ids & VENDOR_ID_MASK, ID_DIGITS);
  WriteString(Writer, ":");
  WriteHex(Writer, Ids >> DEVICE_ID_SHIFT, ID_DIGITS);
  WriteString(Writer, "\r\n");
  const UINT64 Bytes = Extended ? EXTENDED_BYTES : CONVENTIONAL_BYTES;
  for (UINT64 Line = 0; Line < Bytes; Line += LINE_BYTES) {
    WriteHex(Writer, Line, Line < CONVENTIONAL_BYTES ? SHORT_OFFSET_DIGITS : LONG_OFFSET_DIGITS);
    WriteString(Writer, ":");
    for (UINT64 Offset = Line; Offset < Line + LINE_BYTES; Offset += sizeof(UINT32)) {
      UINT32 Value = ABSENT_DWORD;
      ReadDword(Root.Bridge, Address, Offset, Value);
      for (UINT32 Byte = 0; Byte < sizeof(UINT32); ++Byte) {
        WriteString(Writer, " ");
        WriteHex(Writer, (Value >> (Byte * BITS_PER_BYTE)) & BYTE_MASK, SHORT_OFFSET_DIGITS);
      }
    }
    WriteString(Writer, "\r\n");
  }
  WriteString(Writer, "\r\n");
}

} // namespace

UINTN ReportedFunctions(const CHAR8 *Text, UINTN Size, FunctionAddress *Out, UINTN Max) {
  UINTN Count = 0;
  for (UINTN Start = 0; Start < Size;) {
    FunctionAddress Address = {};
    if (ParseAddressLine(Text, Size, Start, Address) && !AddOnce(Out, Count, Max, Address)) {
      break;
    }
    while (Start < Size && Text[Start] != '\n') {
      ++Start;
    }
    ++Start;
  }
  return Count;
}

void WriteConfigurationDump(ReportFileWriter &Writer, const CHAR8 *Text, UINTN Size) {
  const UINTN BridgeCount = FindRootBridges(RootBridges, DUMP_MAX_ROOT_BRIDGES);
  const UINTN ReportedCount =
      ReportedFunctions(Text, Size, ReportedList, DUMP_MAX_REPORTED_FUNCTIONS);
  UINTN DumpedCount = 0;
  for (UINTN Index = 0; Index < ReportedCount; ++Index) {
    const DumpRootBridge *Root = BridgeOf(RootBridges, BridgeCount, ReportedList[Index]);
    if (Root != nullptr && !AddPath(*Root, ReportedList[Index], DumpList, DumpedCount)) {
      break;
    }
  }
  for (UINTN Index = 0; Index < DumpedCount; ++Index) {
    const DumpRootBridge *Root = BridgeOf(RootBridges, BridgeCount, DumpList[Index]);
    if (Root != nullptr) {
      WriteFunction(Writer, *Root, DumpList[Index]);
    }
  }
}
