# Host builds under AddressSanitizer and UndefinedBehaviorSanitizer: every host target (the
# driver's libraries, the hosted platform, tests and tools) is instrumented, and the first
# report ends the process so that a test fails on it. The EFI image is built by its own
# commands and is never instrumented.
if(RBAR_FUZZ)
  set(RBAR_SANITIZE ON)
endif()

if(RBAR_SANITIZE)
  set(RBAR_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                           -fno-omit-frame-pointer)
  add_compile_options(${RBAR_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()

if(RBAR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "RBAR_FUZZ needs clang (libFuzzer)")
  endif()
  # Coverage feedback for libFuzzer from all host code; fuzz targets link the fuzzer itself.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
