// The benchmark's texts and their three renderings. Arguments live in mutable globals, read at
// each call, so that no compiler folds a constant argument into a constant text.
#include "tests/bench/FormatCases.h"

#include <fmt/format.h>

#include <cstdio>
#include <string_view>

#include "firmware/PciRootBridgeIo.h"
#include "firmware/UefiStatus.h"
#include "print/FormatEngine.h"

namespace {

// The long line and its length, line end included.
constexpr const char *MIXED_LINE_NAME = "mixed_300";
constexpr size_t MIXED_LINE_CHARS = 300;

// Arguments of the two report lines, as the evaluation passes them for a Navi 10 BAR 0.
struct ReportArguments {
  unsigned long Mask = 16128;
  unsigned Bar = 0;
  unsigned Current = 8;
  unsigned Highest = 13;
  unsigned Proposed = 13;
};
ReportArguments Report;

// Arguments of the mixed line.
struct MixedArguments {
  const char *Bridge = "PNP0A08";
  int Segment = 0;
  unsigned Bus = 3;
  unsigned Device = 0;
  unsigned Function = 1;
  unsigned VendorId = 0x10DE;
  unsigned DeviceId = 0x2684;
  unsigned ClassCode = 0x030000;
  unsigned long BarAddress = 0x0000006000000000UL;
  unsigned long BarBytes = 8589934592UL;
  int BarMegabytes = 8192;
  int LinkWidth = 16;
  int LinkGeneration = 4;
  const char *Slot = "J6B2";
  int Offset = 291;
  int Delta = -42;
  unsigned Errors = 0;
  unsigned Id = 0xBEEF;
  const char *State = "ready for resize";
};
MixedArguments Mixed;

EFI_GUID Guid = EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID;
EFI_TIME Time = {2026, 12, 7, 22, 5, 59, 0, 0, 0, 0, 0};
EFI_STATUS NamedStatus = EFI_INVALID_PARAMETER;
const char *NamedStatusText = "Invalid Parameter";
// A warning value beyond the named ones: printed as eight hexadecimal digits.
EFI_STATUS UnnamedStatus = 0x22;
char16_t Character = u'A';
const char *NarrowString = "PciRootBridgeIo";
const char16_t *WideString = u"PciRootBridgeIo";

// Lengths before the terminator, for the two standard library renderers.
size_t SnprintfResult(int Written, size_t Size) {
  if (Written < 0) {
    return 0;
  }
  return static_cast<size_t>(Written) < Size ? static_cast<size_t>(Written) : Size - 1;
}

template <typename... Args>
size_t FmtInto(char *Buffer, size_t Size, fmt::format_string<Args...> Format, Args &&...Values) {
  const auto Result = fmt::format_to_n(Buffer, Size - 1, Format, std::forward<Args>(Values)...);
  *Result.out = '\0';
  return static_cast<size_t>(Result.out - Buffer);
}

std::vector<FormatCase> MakeCases() {
  std::vector<FormatCase> Cases;
  Cases.push_back(
      {"report_sizes",
       "the sizes line",
       "RBarSizes %lu\n",
       {ToArgumentSlot(Report.Mask)},
       [](char *B, size_t S) {
         return SnprintfResult(std::snprintf(B, S, "RBarSizes %lu\r\n", Report.Mask), S);
       },
       [](char *B, size_t S) { return FmtInto(B, S, "RBarSizes {}\r\n", Report.Mask); }});
  Cases.push_back({"report_bar",
                   "the BAR line",
                   "BAR %u RBAR CURRENT %u RBAR MAX %u RBAR NEW %u\n",
                   {ToArgumentSlot(Report.Bar), ToArgumentSlot(Report.Current),
                    ToArgumentSlot(Report.Highest), ToArgumentSlot(Report.Proposed)},
                   [](char *B, size_t S) {
                     return SnprintfResult(
                         std::snprintf(B, S, "BAR %u RBAR CURRENT %u RBAR MAX %u RBAR NEW %u\r\n",
                                       Report.Bar, Report.Current, Report.Highest, Report.Proposed),
                         S);
                   },
                   [](char *B, size_t S) {
                     return FmtInto(B, S, "BAR {} RBAR CURRENT {} RBAR MAX {} RBAR NEW {}\r\n",
                                    Report.Bar, Report.Current, Report.Highest, Report.Proposed);
                   }});
  const MixedArguments &M = Mixed;
  Cases.push_back(
      {MIXED_LINE_NAME,
       "300 characters: text, 23 directives",
       "Root bridge %a segment %d: bus %u device %u function %u vendor %04X device %04X class "
       "%06X, BAR 0 at %016lX holds %lu bytes (%d MB), link x%d gen %d, slot %-8a| offset %5d, "
       "delta %d, errors %u, id %X, sizes %lu, current %u, max %u, new %u, state %a (ok).\n",
       {ToArgumentSlot(M.Bridge),
        ToArgumentSlot(M.Segment),
        ToArgumentSlot(M.Bus),
        ToArgumentSlot(M.Device),
        ToArgumentSlot(M.Function),
        ToArgumentSlot(M.VendorId),
        ToArgumentSlot(M.DeviceId),
        ToArgumentSlot(M.ClassCode),
        ToArgumentSlot(M.BarAddress),
        ToArgumentSlot(M.BarBytes),
        ToArgumentSlot(M.BarMegabytes),
        ToArgumentSlot(M.LinkWidth),
        ToArgumentSlot(M.LinkGeneration),
        ToArgumentSlot(M.Slot),
        ToArgumentSlot(M.Offset),
        ToArgumentSlot(M.Delta),
        ToArgumentSlot(M.Errors),
        ToArgumentSlot(M.Id),
        ToArgumentSlot(Report.Mask),
        ToArgumentSlot(Report.Current),
        ToArgumentSlot(Report.Highest),
        ToArgumentSlot(Report.Proposed),
        ToArgumentSlot(M.State)},
       [](char *B, size_t S) {
         const MixedArguments &A = Mixed;
         return SnprintfResult(
             std::snprintf(
                 B, S,
                 "Root bridge %s segment %d: bus %u device %u function %u vendor %04X device "
                 "%04X class %06X, BAR 0 at %016lX holds %lu bytes (%d MB), link x%d gen %d, "
                 "slot %-8s| offset %5d, delta %d, errors %u, id %X, sizes %lu, current %u, max "
                 "%u, new %u, state %s (ok).\r\n",
                 A.Bridge, A.Segment, A.Bus, A.Device, A.Function, A.VendorId, A.DeviceId,
                 A.ClassCode, A.BarAddress, A.BarBytes, A.BarMegabytes, A.LinkWidth,
                 A.LinkGeneration, A.Slot, A.Offset, A.Delta, A.Errors, A.Id, Report.Mask,
                 Report.Current, Report.Highest, Report.Proposed, A.State),
             S);
       },
       [](char *B, size_t S) {
         const MixedArguments &A = Mixed;
         return FmtInto(B, S,
                        "Root bridge {} segment {}: bus {} device {} function {} vendor {:04X} "
                        "device {:04X} class {:06X}, BAR 0 at {:016X} holds {} bytes ({} MB), "
                        "link x{} gen {}, slot {:<8}| offset {:5}, delta {}, errors {}, id {:X}, "
                        "sizes {}, current {}, max {}, new {}, state {} (ok).\r\n",
                        A.Bridge, A.Segment, A.Bus, A.Device, A.Function, A.VendorId, A.DeviceId,
                        A.ClassCode, A.BarAddress, A.BarBytes, A.BarMegabytes, A.LinkWidth,
                        A.LinkGeneration, A.Slot, A.Offset, A.Delta, A.Errors, A.Id, Report.Mask,
                        Report.Current, Report.Highest, Report.Proposed, A.State);
       }});
  Cases.push_back(
      {"guid",
       "%g, a GUID",
       "%g",
       {ToArgumentSlot(&Guid)},
       [](char *B, size_t S) {
         const EFI_GUID &G = Guid;
         return SnprintfResult(
             std::snprintf(B, S, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", G.Data1,
                           G.Data2, G.Data3, G.Data4[0], G.Data4[1], G.Data4[2], G.Data4[3],
                           G.Data4[4], G.Data4[5], G.Data4[6], G.Data4[7]),
             S);
       },
       [](char *B, size_t S) {
         const EFI_GUID &G = Guid;
         return FmtInto(B, S,
                        "{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}",
                        G.Data1, G.Data2, G.Data3, G.Data4[0], G.Data4[1], G.Data4[2], G.Data4[3],
                        G.Data4[4], G.Data4[5], G.Data4[6], G.Data4[7]);
       }});
  Cases.push_back({"time",
                   "%t, a date and time",
                   "%t",
                   {ToArgumentSlot(&Time)},
                   [](char *B, size_t S) {
                     const EFI_TIME &T = Time;
                     return SnprintfResult(std::snprintf(B, S, "%02d/%02d/%04d  %02d:%02d", T.Month,
                                                         T.Day, T.Year, T.Hour, T.Minute),
                                           S);
                   },
                   [](char *B, size_t S) {
                     const EFI_TIME &T = Time;
                     return FmtInto(B, S, "{:02}/{:02}/{:04}  {:02}:{:02}", T.Month, T.Day, T.Year,
                                    T.Hour, T.Minute);
                   }});
  Cases.push_back({"status_named",
                   "%r, a named status (the others print its text)",
                   "%r",
                   {ToArgumentSlot(NamedStatus)},
                   [](char *B, size_t S) {
                     return SnprintfResult(std::snprintf(B, S, "%s", NamedStatusText), S);
                   },
                   [](char *B, size_t S) { return FmtInto(B, S, "{}", NamedStatusText); }});
  Cases.push_back({"status_number",
                   "%r, a status without a name",
                   "%r",
                   {ToArgumentSlot(UnnamedStatus)},
                   [](char *B, size_t S) {
                     return SnprintfResult(
                         std::snprintf(B, S, "%08X", static_cast<unsigned>(UnnamedStatus)), S);
                   },
                   [](char *B, size_t S) {
                     return FmtInto(B, S, "{:08X}", static_cast<unsigned>(UnnamedStatus));
                   }});
  Cases.push_back(
      {"character",
       "%c, one character",
       "%c",
       {ToArgumentSlot(unsigned{Character})},
       [](char *B, size_t S) {
         return SnprintfResult(std::snprintf(B, S, "%c", static_cast<char>(Character)), S);
       },
       [](char *B, size_t S) { return FmtInto(B, S, "{}", static_cast<char>(Character)); }});
  Cases.push_back(
      {"narrow_string",
       "%a, a narrow string",
       "%a",
       {ToArgumentSlot(NarrowString)},
       [](char *B, size_t S) { return SnprintfResult(std::snprintf(B, S, "%s", NarrowString), S); },
       [](char *B, size_t S) { return FmtInto(B, S, "{}", NarrowString); }});
  Cases.push_back(
      {"wide_string",
       "%s, a wide string (the others print it narrow)",
       "%s",
       {ToArgumentSlot(WideString)},
       [](char *B, size_t S) { return SnprintfResult(std::snprintf(B, S, "%s", NarrowString), S); },
       [](char *B, size_t S) { return FmtInto(B, S, "{}", NarrowString); }});
  Cases.push_back({"wide_string_field",
                   "%20.5s, a wide string cut and padded (narrow elsewhere)",
                   "%20.5s",
                   {ToArgumentSlot(WideString)},
                   [](char *B, size_t S) {
                     return SnprintfResult(std::snprintf(B, S, "%20.5s", NarrowString), S);
                   },
                   [](char *B, size_t S) { return FmtInto(B, S, "{:>20.5}", NarrowString); }});
  return Cases;
}

// A wide text as narrow characters; characters above 0xFF become '?'.
std::string Narrowed(const char16_t *Text, size_t Length) {
  std::string Narrow;
  for (size_t Index = 0; Index < Length; ++Index) {
    Narrow.push_back(Text[Index] <= 0xFF ? static_cast<char>(Text[Index]) : '?');
  }
  return Narrow;
}

} // namespace

const char *RendererName(Renderer Which) {
  switch (Which) {
  case Renderer::Engine:
    return "engine";
  case Renderer::EngineWide:
    return "engine_wide";
  case Renderer::Snprintf:
    return "snprintf";
  case Renderer::Fmt:
    return "fmt";
  }
  return "?";
}

const std::vector<FormatCase> &FormatCases() {
  static const std::vector<FormatCase> Cases = MakeCases();
  return Cases;
}

void PrepareBuffers(const FormatCase &Case, RenderBuffers &Buffers) {
  Buffers.WideFormat.clear();
  for (const char *Cursor = Case.EngineFormat; *Cursor != '\0'; ++Cursor) {
    Buffers.WideFormat.push_back(static_cast<unsigned char>(*Cursor));
  }
}

size_t RenderCase(const FormatCase &Case, Renderer Which, RenderBuffers &Buffers) {
  switch (Which) {
  case Renderer::Engine:
    return FormatCore(Buffers.Narrow, BENCH_BUFFER_CHARS, 0, Case.EngineFormat, Case.Slots.data());
  case Renderer::EngineWide:
    return FormatCore(Buffers.Wide, BENCH_BUFFER_CHARS, WIDE_FORMAT | WIDE_OUTPUT,
                      Buffers.WideFormat.c_str(), Case.Slots.data());
  case Renderer::Snprintf:
    return Case.Snprintf(Buffers.Narrow, BENCH_BUFFER_CHARS);
  case Renderer::Fmt:
    return Case.Fmt(Buffers.Narrow, BENCH_BUFFER_CHARS);
  }
  return 0;
}

std::vector<std::string> CheckIdenticalTexts() {
  std::vector<std::string> Differences;
  for (const FormatCase &Case : FormatCases()) {
    RenderBuffers Buffers;
    PrepareBuffers(Case, Buffers);
    const size_t EngineLength = RenderCase(Case, Renderer::Engine, Buffers);
    const std::string Expected(Buffers.Narrow, EngineLength);
    if (Expected.empty() || EngineLength + 1 >= BENCH_BUFFER_CHARS) {
      Differences.push_back(std::string(Case.Name) + ": the engine's text does not fit the buffer");
    }
    if (std::string_view(Case.Name) == MIXED_LINE_NAME && EngineLength != MIXED_LINE_CHARS) {
      Differences.push_back(std::string(Case.Name) + ": " + std::to_string(EngineLength) +
                            " characters instead of " + std::to_string(MIXED_LINE_CHARS));
    }
    for (const Renderer Which : ALL_RENDERERS) {
      if (Which == Renderer::Engine) {
        continue;
      }
      const size_t Length = RenderCase(Case, Which, Buffers);
      const std::string Text = Which == Renderer::EngineWide ? Narrowed(Buffers.Wide, Length)
                                                             : std::string(Buffers.Narrow, Length);
      if (Text != Expected) {
        std::string Difference = Case.Name;
        Difference += ": ";
        Difference += RendererName(Which);
        Difference += " gives \"" + Text;
        Difference += "\", the engine \"" + Expected;
        Difference += "\"";
        Differences.push_back(Difference);
      }
    }
  }
  return Differences;
}
