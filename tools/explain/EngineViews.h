// The tool's functions as the verdict engine sees them, and the engine's words as strings: the
// engine reads views of the image's bytes, and each view maps back to its function.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/ConfigImage.h"
#include "tools/source/PreviewImage.h"
#include "verdict/Verdict.h"

// A view of every function of an image, in the image's order.
struct ImageHeaders {
  const PreviewImage *Image = nullptr;
  std::vector<FunctionHeader> Headers;
};

// The views of Image's functions; valid while Image is not changed.
ImageHeaders MakeImageHeaders(const PreviewImage &Image);

// The views as the engine takes them.
FunctionList AsFunctionList(const ImageHeaders &Views);

// A view of Function's bytes in Domain.
FunctionHeader HeaderView(const ConfigFunction &Function, uint32_t Domain);

// The function of Views.Image that Header (one of Views.Headers) shows.
const PreviewFunction &FunctionOf(const ImageHeaders &Views, const FunctionHeader *Header);

// The view of Function, one of Views.Image's functions.
const FunctionHeader &HeaderOf(const ImageHeaders &Views, const PreviewFunction &Function);

// Decodes BAR Index (0 to 5) of Function.
BarPlacement DecodeBar(const ConfigFunction &Function, uint32_t Index);

// The engine's words for a BAR's kind, a size in bytes and a verdict.
std::string BarKindText(const BarPlacement &Placement, uint32_t Index);
std::string ByteSizeText(uint64_t Size);
std::string VerdictText(const Verdict &Judged, const ProposalFacts &Facts);
