// Texts that the format engine, glibc's snprintf and {fmt} each render into a buffer of the
// console print's size: the driver's two report lines, a long mixed line and one text per
// extended conversion. Each case holds the engine's format and argument slots and the nearest
// snprintf and {fmt} calls that produce the very same text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "print/ArgumentList.h"
#include "print/ConsolePrint.h"

// Ways of rendering a case.
enum class Renderer {
  Engine,     // the format engine, narrow format into a narrow buffer
  EngineWide, // the format engine as console print calls it: wide format, wide buffer
  Snprintf,   // glibc snprintf
  Fmt,        // fmt::format_to_n
};
inline constexpr Renderer ALL_RENDERERS[] = {Renderer::Engine, Renderer::EngineWide,
                                             Renderer::Snprintf, Renderer::Fmt};
const char *RendererName(Renderer Which);

// Characters of every buffer: the console print buffer's, terminator included.
inline constexpr size_t BENCH_BUFFER_CHARS = PRINT_BUFFER_CHARS;

struct FormatCase {
  const char *Name;
  const char *Description;
  // The engine's format; a report line's is the driver's own format, narrowed.
  const char *EngineFormat;
  std::vector<ArgumentSlot> Slots;
  // Both render into Buffer of Size characters, terminate it and return the characters
  // before the terminator.
  size_t (*Snprintf)(char *Buffer, size_t Size);
  size_t (*Fmt)(char *Buffer, size_t Size);
};

// Buffers of one renderer: narrow for all but EngineWide. Every case is rendered both narrow
// and wide, as console print renders it.
struct RenderBuffers {
  char Narrow[BENCH_BUFFER_CHARS];
  char16_t Wide[BENCH_BUFFER_CHARS];
  // The case's format widened, for EngineWide.
  std::u16string WideFormat;
};

const std::vector<FormatCase> &FormatCases();

// Prepares Buffers for rendering Case (the wide format).
void PrepareBuffers(const FormatCase &Case, RenderBuffers &Buffers);

// Renders Case once with Which into Buffers; returns the characters before the terminator.
size_t RenderCase(const FormatCase &Case, Renderer Which, RenderBuffers &Buffers);

// Renders every case with every renderer and compares the texts. Returns the
// differences found, one line each; empty when all renderings of each case are identical.
std::vector<std::string> CheckIdenticalTexts();
