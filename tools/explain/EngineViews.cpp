// Views of the image for the verdict engine, and its fixed-buffer text taken into strings.
#include "tools/explain/EngineViews.h"

namespace {

// Characters of the longest sentence the engine writes, with room to spare.
constexpr size_t ENGINE_TEXT_CHARS = 1024;

// The text that Append writes into an engine buffer.
template <typename Writer>
std::string EngineText(Writer Append) {
  char Text[ENGINE_TEXT_CHARS];
  TextBuffer Buffer = MakeTextBuffer(Text, sizeof Text);
  Append(Buffer);
  return std::string(Text, Buffer.Length);
}

} // namespace

ImageHeaders MakeImageHeaders(const PreviewImage &Image) {
  ImageHeaders Views;
  Views.Image = &Image;
  Views.Headers.reserve(Image.size());
  for (const PreviewFunction &Function : Image) {
    Views.Headers.push_back(HeaderView(Function.Config, Function.Domain));
  }
  return Views;
}

FunctionList AsFunctionList(const ImageHeaders &Views) {
  return {Views.Headers.data(), Views.Headers.size()};
}

FunctionHeader HeaderView(const ConfigFunction &Function, uint32_t Domain) {
  return {Domain,
          Function.Bus,
          Function.Device,
          Function.Function,
          Function.Bytes.data(),
          Function.Bytes.size()};
}

const PreviewFunction &FunctionOf(const ImageHeaders &Views, const FunctionHeader *Header) {
  return (*Views.Image)[static_cast<size_t>(Header - Views.Headers.data())];
}

const FunctionHeader &HeaderOf(const ImageHeaders &Views, const PreviewFunction &Function) {
  return Views.Headers[static_cast<size_t>(&Function - Views.Image->data())];
}

BarPlacement DecodeBar(const ConfigFunction &Function, uint32_t Index) {
  return DecodeBar(HeaderView(Function, 0), Index);
}

std::string BarKindText(const BarPlacement &Placement, uint32_t Index) {
  return EngineText([&](TextBuffer &Out) { AppendBarKindText(Out, Placement, Index); });
}

std::string ByteSizeText(uint64_t Size) {
  return EngineText([&](TextBuffer &Out) { AppendByteSize(Out, Size); });
}

std::string VerdictText(const Verdict &Judged, const ProposalFacts &Facts) {
  return EngineText([&](TextBuffer &Out) { AppendVerdictText(Out, Judged, Facts); });
}
