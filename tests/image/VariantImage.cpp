// The smallest EFI application the image checks can be tried on: an entry point that writes one
// zero-initialized global, so that the image has a code section and a data section.
unsigned long long VariantCalls;

extern "C" unsigned long long VariantEntry(void *, void *) {
  ++VariantCalls;
  return 0;
}
