// The fuzz targets' one way of failing: a property that does not hold prints what was
// expected and what was found, and aborts, so that libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// Aborts with Message when Holds is false.
inline void Require(bool Holds, const std::string &Message) {
  if (!Holds) {
    std::fprintf(stderr, "fuzz check failed: %s\n", Message.c_str());
    std::fflush(stderr);
    std::abort();
  }
}

// "what: found N, expected M", for messages of counts.
inline std::string Mismatch(const std::string &What, unsigned long long Found,
                            unsigned long long Expected) {
  return What + ": found " + std::to_string(Found) + ", expected " + std::to_string(Expected);
}
