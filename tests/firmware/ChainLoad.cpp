// Entry point of the test chain-loader: an EFI application that loads and starts
// \EFI\rbar\1.efi, 2.efi, ... from its own device, in turn, until one is not found, prints the
// status of each step on the console, then powers the machine off. It gives the firmware tests
// the images' results where the firmware shows none (U-Boot's bootefi) and a way to start
// several images where no shell runs (OVMF under Secure Boot).
//
// Each line is "chain-load: PATH LoadImage: STATUS" or "chain-load: PATH StartImage: STATUS"
// (STATUS as the print engine names it, "Success", "Access Denied", ...); what an image prints
// comes between its two lines. The last line is "chain-load: done".
#include "driver/DriverGlobals.h"
#include "print/ConsolePrint.h"
#include "tests/firmware/ChainLoadPolicy.h"
#include "tests/firmware/ChainLoadProtocols.h"

namespace {

// Images tried: 1.efi to 9.efi, one decimal digit each.
inline constexpr UINT32 CHAIN_MAX_IMAGES = 9;
// The folder they are taken from, and the length of a whole file path: folder, digit, ".efi".
inline constexpr CHAR16 CHAIN_FOLDER[] = u"\\EFI\\rbar\\";
inline constexpr CHAR16 CHAIN_EXTENSION[] = u".efi";
inline constexpr UINTN CHAIN_FOLDER_CHARS = sizeof(CHAIN_FOLDER) / sizeof(CHAR16) - 1;
inline constexpr UINTN CHAIN_EXTENSION_CHARS = sizeof(CHAIN_EXTENSION) / sizeof(CHAR16) - 1;
inline constexpr UINTN CHAIN_PATH_CHARS = CHAIN_FOLDER_CHARS + 1 + CHAIN_EXTENSION_CHARS;
// Room for the device's own path ahead of the file node.
inline constexpr UINTN DEVICE_PATH_ROOM = 512;
inline constexpr UINTN FILE_NODE_SIZE =
    sizeof(EFI_DEVICE_PATH_PROTOCOL) + (CHAIN_PATH_CHARS + 1) * sizeof(CHAR16);
// Most nodes followed in the device's path; a path that does not end by then is refused.
inline constexpr UINTN DEVICE_PATH_MAX_NODES = 64;

// The path of the image being loaded: the device's nodes, the file node, the end node.
constinit UINT8 PathBuffer[DEVICE_PATH_ROOM + FILE_NODE_SIZE + sizeof(EFI_DEVICE_PATH_PROTOCOL)] =
    {};
// The file path of the image being loaded, for the console lines.
constinit CHAR16 FilePath[CHAIN_PATH_CHARS + 1] = {};

UINT16 NodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return static_cast<UINT16>(Node->Length[0] | (Node->Length[1] << 8));
}

void WriteNode(UINT8 *At, UINT8 Type, UINT8 SubType, UINTN Length) {
  At[offsetof(EFI_DEVICE_PATH_PROTOCOL, Type)] = Type;
  At[offsetof(EFI_DEVICE_PATH_PROTOCOL, SubType)] = SubType;
  At[offsetof(EFI_DEVICE_PATH_PROTOCOL, Length)] = static_cast<UINT8>(Length);
  At[offsetof(EFI_DEVICE_PATH_PROTOCOL, Length) + 1] = static_cast<UINT8>(Length >> 8);
}

// Bytes of Path before its end node, or 0 when it does not end within DEVICE_PATH_ROOM bytes
// and DEVICE_PATH_MAX_NODES nodes (or holds a node shorter than its header).
UINTN DevicePathPrefixSize(const EFI_DEVICE_PATH_PROTOCOL *Path) {
  const auto *Start = reinterpret_cast<const UINT8 *>(Path);
  UINTN Size = 0;
  for (UINTN Nodes = 0; Nodes < DEVICE_PATH_MAX_NODES; ++Nodes) {
    const auto *Node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Start + Size);
    if (Node->Type == END_DEVICE_PATH_TYPE && Node->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      return Size;
    }
    const UINT16 Length = NodeLength(Node);
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL) || Size + Length > DEVICE_PATH_ROOM) {
      return 0;
    }
    Size += Length;
  }
  return 0;
}

// Sets FilePath to the folder, Digit and the extension, and PathBuffer after its first
// PrefixSize bytes (the device's nodes) to the file node for it and the end node.
void BuildImagePath(UINTN PrefixSize, UINT32 Digit) {
  UINTN Char = 0;
  for (UINTN Index = 0; Index < CHAIN_FOLDER_CHARS; ++Index) {
    FilePath[Char++] = CHAIN_FOLDER[Index];
  }
  FilePath[Char++] = static_cast<CHAR16>(u'0' + Digit);
  for (UINTN Index = 0; Index < CHAIN_EXTENSION_CHARS; ++Index) {
    FilePath[Char++] = CHAIN_EXTENSION[Index];
  }
  FilePath[Char] = u'\0';

  UINT8 *Node = PathBuffer + PrefixSize;
  WriteNode(Node, MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, FILE_NODE_SIZE);
  UINT8 *Name = Node + sizeof(EFI_DEVICE_PATH_PROTOCOL);
  for (UINTN Index = 0; Index <= CHAIN_PATH_CHARS; ++Index) {
    Name[2 * Index] = static_cast<UINT8>(FilePath[Index]);
    Name[2 * Index + 1] = static_cast<UINT8>(FilePath[Index] >> 8);
  }
  WriteNode(Node + FILE_NODE_SIZE, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE,
            sizeof(EFI_DEVICE_PATH_PROTOCOL));
}

// Copies the path of the device the chain-loader was loaded from into PathBuffer; returns its
// size before the end node, or 0 with a console line when there is none to use.
UINTN CopyOwnDevicePath(EFI_LOADED_IMAGE_PROTOCOL *Self) {
  void *Interface = nullptr;
  EFI_STATUS Status =
      BootServices->HandleProtocol(Self->DeviceHandle, &EFI_DEVICE_PATH_PROTOCOL_GUID, &Interface);
  if (EfiIsError(Status)) {
    Print(u"chain-load: no device path of its own device: %r\n", Status);
    return 0;
  }
  const auto *Path = static_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Interface);
  const UINTN Size = DevicePathPrefixSize(Path);
  if (Size == 0) {
    Print(u"chain-load: its own device path is unterminated or too long\n");
    return 0;
  }
  const auto *From = reinterpret_cast<const UINT8 *>(Path);
  for (UINTN Index = 0; Index < Size; ++Index) {
    PathBuffer[Index] = From[Index];
  }
  return Size;
}

// Loads and starts each image in turn, with Options as its load options. Stops after the
// first image that is not found.
void RunChain(UINTN PrefixSize, const void *Options, UINT32 OptionsSize) {
  auto LoadImage = reinterpret_cast<EFI_IMAGE_LOAD>(BootServices->LoadImage);
  auto StartImage = reinterpret_cast<EFI_IMAGE_START>(BootServices->StartImage);
  for (UINT32 Digit = 1; Digit <= CHAIN_MAX_IMAGES; ++Digit) {
    BuildImagePath(PrefixSize, Digit);
    EFI_HANDLE Child = nullptr;
    EFI_STATUS Status =
        LoadImage(0, ImageHandle, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(PathBuffer), nullptr,
                  0, &Child);
    Print(u"chain-load: %s LoadImage: %r\n", FilePath, Status);
    if (Status == EFI_NOT_FOUND) {
      return;
    }
    if (EfiIsError(Status)) {
      continue;
    }
    void *Interface = nullptr;
    if (!EfiIsError(
            BootServices->HandleProtocol(Child, &EFI_LOADED_IMAGE_PROTOCOL_GUID, &Interface))) {
      auto *Loaded = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(Interface);
      Loaded->LoadOptions = Options;
      Loaded->LoadOptionsSize = OptionsSize;
    }
    BeforeStartImage();
    Status = StartImage(Child, nullptr, nullptr);
    Print(u"chain-load: %s StartImage: %r\n", FilePath, Status);
  }
}

} // namespace

extern "C" EFI_STATUS EFIAPI ChainLoadEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table) {
  // The print engine writes through the driver's globals.
  ImageHandle = Image;
  SystemTable = Table;
  BootServices = Table->BootServices;
  RuntimeServices = Table->RuntimeServices;

  void *Interface = nullptr;
  EFI_STATUS Status =
      BootServices->HandleProtocol(Image, &EFI_LOADED_IMAGE_PROTOCOL_GUID, &Interface);
  if (EfiIsError(Status)) {
    Print(u"chain-load: no loaded image protocol of its own: %r\n", Status);
  } else {
    auto *Self = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(Interface);
    const UINTN PrefixSize = CopyOwnDevicePath(Self);
    if (PrefixSize != 0) {
      const void *Options = CHAIN_LOAD_POLICY.Options;
      UINT32 OptionsSize = CHAIN_LOAD_POLICY.OptionsSize;
      if (CHAIN_LOAD_POLICY.OwnOptionsWin && Self->LoadOptionsSize != 0) {
        Options = Self->LoadOptions;
        OptionsSize = Self->LoadOptionsSize;
      }
      RunChain(PrefixSize, Options, OptionsSize);
    }
  }
  Print(u"chain-load: done\n");
  reinterpret_cast<EFI_RUNTIME_SERVICES_TO_RESET *>(RuntimeServices)
      ->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
  // A firmware without a power-off returns here; its caller ends the run.
  return EFI_SUCCESS;
}
