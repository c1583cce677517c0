// The few C library functions the compiler calls on its own (to zero or copy a local array or
// record), for the image, which links no C library. Built into the image only: the host has
// its C library.
#include <stddef.h>

extern "C" {

// The loops must stay loops: recognising them as calls to these very functions would recurse.
__attribute__((no_builtin)) void *memset(void *Destination, int Value, size_t Count) {
  auto *Bytes = static_cast<unsigned char *>(Destination);
  for (size_t Index = 0; Index < Count; ++Index) {
    Bytes[Index] = static_cast<unsigned char>(Value);
  }
  return Destination;
}

__attribute__((no_builtin)) void *memcpy(void *Destination, const void *Source, size_t Count) {
  auto *To = static_cast<unsigned char *>(Destination);
  const auto *From = static_cast<const unsigned char *>(Source);
  for (size_t Index = 0; Index < Count; ++Index) {
    To[Index] = From[Index];
  }
  return Destination;
}

__attribute__((no_builtin)) void *memmove(void *Destination, const void *Source, size_t Count) {
  auto *To = static_cast<unsigned char *>(Destination);
  const auto *From = static_cast<const unsigned char *>(Source);
  if (To < From) {
    for (size_t Index = 0; Index < Count; ++Index) {
      To[Index] = From[Index];
    }
  } else {
    for (size_t Index = Count; Index > 0; --Index) {
      To[Index - 1] = From[Index - 1];
    }
  }
  return Destination;
}

} // extern "C"
